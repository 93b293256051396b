// Start/Stop, Exit, close and the port box through the real halvyn's console.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <memory>

#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"
#include "tests/support/test_client.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETWORK();
    halvyn.emplace();
    ASSERT_TRUE(halvyn->WaitUntilReady());
  }
  bool Answers(uint16_t port, std::string_view name) {
    TestClient client(port);
    client.Send('e', NamedRecord(name));
    auto g = client.Receive(1000);
    return g && (*g)[2] == 'g';
  }
  std::optional<HalvynProcess> halvyn;
};

TEST_F(Lifecycle, StartsStoppedWithTheDefaultsShown) {
  json w = halvyn->Window();
  EXPECT_EQ(w["title"], "Corvex v1.93");
  EXPECT_EQ(w["startStop"], "Start");
  EXPECT_EQ(w["relayPort"], "7002");
  EXPECT_EQ(w["publicAddress"], "");
  EXPECT_EQ(w["messageLog"], "");
  EXPECT_EQ(w["messageBoxes"], json::array());
  EXPECT_EQ(w["stunServers"].size(), 2u);
  EXPECT_EQ(w["stunServer"], w["stunServers"][0]);
}

TEST_F(Lifecycle, StartStopStartServesAgainWithTheStoredClients) {
  json w;
  ASSERT_EQ(halvyn->Command("start-stop", nullptr, &w), 200);
  EXPECT_EQ(w["startStop"], "Stop");
  EXPECT_TRUE(Answers(7002, "alpha"));
  ASSERT_EQ(halvyn->Command("start-stop", nullptr, &w), 200);
  EXPECT_EQ(w["startStop"], "Start");
  EXPECT_FALSE(Answers(7002, "beta"));
  ASSERT_EQ(halvyn->Command("start-stop", nullptr, &w), 200);
  EXPECT_EQ(w["startStop"], "Stop");
  TestClient gamma(7002);
  gamma.Send('e', NamedRecord("gamma"));
  ASSERT_TRUE(gamma.Receive());
  auto list = gamma.Receive();
  ASSERT_TRUE(list);
  EXPECT_EQ(list->size(), 240u);  // alpha is still in the table
}

TEST_F(Lifecycle, BindFailureShowsTheErrorCodeAndStaysStopped) {
  auto holder = std::make_unique<UdpSocket>();
  ASSERT_EQ(holder->Bind({0, 7002}), 0);
  json w;
  ASSERT_EQ(halvyn->Command("start-stop", nullptr, &w), 200);
  EXPECT_EQ(w["startStop"], "Start");
  EXPECT_EQ(w["messageBoxes"], json::array({"bind() failed 98\n"}));
  EXPECT_NE(halvyn->Stderr().find("bind() failed 98"), std::string::npos);
  ASSERT_EQ(halvyn->Command("dismiss-message", nullptr, &w), 200);
  EXPECT_EQ(w["messageBoxes"], json::array());
  // Once the port is free, the next Start serves.
  holder.reset();
  ASSERT_EQ(halvyn->Command("start-stop", nullptr, &w), 200);
  EXPECT_EQ(w["startStop"], "Stop");
  EXPECT_TRUE(Answers(7002, "alpha"));
}

TEST_F(Lifecycle, PortAbove65535BindsItsLow16BitsAndKeepsItsText) {
  json w;
  ASSERT_EQ(halvyn->Command("start-stop", {{"relayPort", "72538"}}, &w), 200);
  EXPECT_EQ(w["startStop"], "Stop");
  EXPECT_EQ(w["relayPort"], "72538");
  EXPECT_TRUE(Answers(7002, "alpha"));
}

TEST_F(Lifecycle, RefusedPortTextShowsTheMessageAndUsesTheLastAcceptedPort) {
  json w;
  ASSERT_EQ(halvyn->Command("start-stop", {{"relayPort", "70x2"}}, &w), 200);
  EXPECT_EQ(w["messageBoxes"], json::array({"Enter a positive integer."}));
  EXPECT_EQ(w["startStop"], "Stop");
  EXPECT_TRUE(Answers(7002, "alpha"));
  // A logged event puts the stored port back into the box.
  auto after = halvyn->WaitForWindow([](const json& x) { return x["relayPort"] == "7002"; });
  EXPECT_TRUE(after);
}

TEST_F(Lifecycle, TypedButUnusedPortIsReplacedByTheNextLoggedEvent) {
  ASSERT_EQ(halvyn->Command("start-stop"), 200);
  json w;
  ASSERT_EQ(halvyn->Command("clear-messages", {{"relayPort", "9999"}}, &w), 200);
  EXPECT_EQ(w["relayPort"], "7002");  // the exchange towards the controls after clearing
}

TEST_F(Lifecycle, ExitWhileRunningClosesTheSocketAndEndsTheProcess) {
  ASSERT_EQ(halvyn->Command("start-stop"), 200);
  json w;
  EXPECT_EQ(halvyn->Command("exit", nullptr, &w), 200);
  EXPECT_EQ(halvyn->WaitForExit(std::chrono::seconds(3)), 0);
  UdpSocket reuse;
  EXPECT_EQ(reuse.Bind({0, 7002}), 0);
}

TEST_F(Lifecycle, SigtermActsAsTheCloseCommand) {
  ASSERT_EQ(halvyn->Command("start-stop"), 200);
  halvyn->Signal(SIGTERM);
  EXPECT_EQ(halvyn->WaitForExit(std::chrono::seconds(3)), 0);
}

TEST_F(Lifecycle, ClearMessagesEmptiesTheLog) {
  ASSERT_EQ(halvyn->Command("start-stop"), 200);
  TestClient client(7002);
  client.Send('e', NamedRecord("alpha"));
  ASSERT_TRUE(halvyn->WaitForWindow([](const json& w) { return w["messageLog"] != ""; }));
  json w;
  ASSERT_EQ(halvyn->Command("clear-messages", nullptr, &w), 200);
  EXPECT_EQ(w["messageLog"], "");
}

}  // namespace
}  // namespace halvyn::testing

namespace halvyn::testing {
namespace {

TEST(StartUp, AddressFileGivesThePublicAddressAndTheRelayPort) {
  REQUIRE_PRIVATE_NETWORK();
  char pattern[] = "/tmp/halvyn-file-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  {
    std::ofstream file(dir / "server.txt", std::ios::binary);
    file << "203.0.113.5\r\n8000\r\n";
  }
  HalvynProcess::Options options;
  options.workDir = dir;
  options.args = {"--start"};
  {
    HalvynProcess halvyn(options);
    ASSERT_TRUE(halvyn.WaitUntilReady());
    const auto window = halvyn.Window();
    EXPECT_EQ(window["publicAddress"], "203.0.113.5");
    EXPECT_EQ(window["relayPort"], "8000");
    TestClient client(8000);
    client.Send('e', NamedRecord("alpha"));
    EXPECT_TRUE(client.Receive());
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace halvyn::testing
