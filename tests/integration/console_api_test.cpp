// The console API refuses what it must and changes nothing when it does.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"
#include "tests/support/test_client.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;

class ConsoleApi : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETWORK();
    halvyn.emplace();
    ASSERT_TRUE(halvyn->WaitUntilReady());
  }
  httplib::Result Post(const std::string& body, const std::string& type = "application/json",
                       httplib::Headers headers = {}) {
    httplib::Client client("127.0.0.1", 7080);
    return client.Post("/api/command", headers, body, type);
  }
  std::optional<HalvynProcess> halvyn;
};

TEST_F(ConsoleApi, BadRequestsGetA4xxJsonErrorAndChangeNothing) {
  const json before = halvyn->Window();
  struct Case {
    std::string body, type;
    int status;
  };
  const std::vector<Case> cases = {
      {"{not json", "application/json", 400},
      {R"({"command":"launch"})", "application/json", 400},
      {R"({"command":7})", "application/json", 400},
      {R"(["start-stop"])", "application/json", 400},
      {R"({"command":"start-stop","controls":{"relayPort":7003}})", "application/json", 400},
      {R"({"command":"start-stop","controls":{"secret":"x"}})", "application/json", 400},
      {R"({"command":"start-stop"})", "text/plain", 415},
      {std::string(100 * 1024, ' '), "application/json", 413},
  };
  for (const Case& c : cases) {
    auto res = Post(c.body, c.type);
    ASSERT_TRUE(res) << c.body.substr(0, 40);
    EXPECT_EQ(res->status, c.status) << c.body.substr(0, 40);
    auto error = json::parse(res->body, nullptr, false);
    EXPECT_TRUE(error.is_object() && error.contains("error")) << res->body;
  }
  // Only the server's clock moves on.
  json after = halvyn->Window();
  after["status"]["now"] = before["status"]["now"];
  EXPECT_EQ(after, before);
}

TEST_F(ConsoleApi, ForeignHostHeaderIsRefused) {
  httplib::Client client("127.0.0.1", 7080);
  auto res = client.Get("/api/window", {{"Host", "evil.example:7080"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 403);
  res = client.Get("/api/window", {{"Host", "localhost:7080"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_FALSE(res->has_header("Access-Control-Allow-Origin"));
}

TEST_F(ConsoleApi, EventStreamSendsTheWindowAndThenLogIncrements) {
  httplib::Client client("127.0.0.1", 7080);
  std::mutex mutex;
  std::string received;
  std::thread reader([&] {
    client.Get("/api/events", [&](const char* data, size_t length) {
      std::lock_guard lock(mutex);
      received.append(data, length);
      return received.find("login.") == std::string::npos;
    });
  });
  auto contains = [&](std::string_view text) {
    std::lock_guard lock(mutex);
    return received.find(text) != std::string::npos;
  };
  for (int i = 0; i < 100 && !contains("event: window"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(contains("\"messageLog\":\"\""));  // the first event carries the whole log
  ASSERT_EQ(halvyn->Command("start-stop"), 200);
  TestClient client7002(7002);
  client7002.Send('e', NamedRecord("alpha"));
  reader.join();  // ends once an increment arrived
  const std::string line =
      "alpha(127.0.0.1:" + std::to_string(client7002.endpoint().port) + ")login.\\r\\n";
  EXPECT_TRUE(contains("\"append\":\"" + line + "\"")) << received;
  EXPECT_TRUE(contains("\"offset\":0"));
}

TEST_F(ConsoleApi, EventStreamFollowsTheLogPastItsCut) {
  ASSERT_EQ(halvyn->Command("start-stop"), 200);
  // 31 control bytes log as 124 characters: about 60,000 "i" lines fill the log.
  TestClient client(7002);
  const ClientRecord record = NamedRecord(std::string(31, '\x01'));
  client.Send('e', record);

  // Counts the stream's events: whole logs, and increments after the second whole log.
  // Reader thread only, but for done.
  std::string partial;
  size_t scanned = 0;  // partial holds no event end before this
  int wholeLogs = 0, incrementsAfterCut = 0;
  std::atomic<bool> done{false};
  httplib::Client events("127.0.0.1", 7080);
  std::thread reader([&] {
    events.Get("/api/events", [&](const char* data, size_t length) {
      partial.append(data, length);
      for (size_t end; (end = partial.find("\n\n", scanned)) != std::string::npos; scanned = 0) {
        const std::string_view event(partial.data(), end);
        if (event.find("\"messageLog\":") != std::string_view::npos) {
          ++wholeLogs;
        } else if (wholeLogs >= 2 && event.find("\"log\":{") != std::string_view::npos) {
          ++incrementsAfterCut;
        }
        partial.erase(0, end + 2);
      }
      scanned = partial.empty() ? 0 : partial.size() - 1;
      done = wholeLogs >= 2 && incrementsAfterCut > 0;
      return !done.load();
    });
    done = true;
  });
  // Until the stream has followed, at most 100,000 a second for at most 60 s: the
  // log holds 8 MiB, about 60,000 lines, and a sanitizer build logs them slowly.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int sent = 0; !done && std::chrono::steady_clock::now() < deadline && sent < 6000000;) {
    for (int i = 0; i < 200; ++i, ++sent) client.Send('i', record);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  done = true;
  events.stop();  // a stream left behind sends nothing more to end the read
  reader.join();
  EXPECT_GE(wholeLogs, 2);           // the first event, and the log again once it was cut
  EXPECT_GT(incrementsAfterCut, 0);  // then increments again: the stream was not left behind
}

TEST_F(ConsoleApi, NamesThatAreNotUtf8ReachTheWindowOneCharacterPerByte) {
  ASSERT_EQ(halvyn->Command("start-stop"), 200);
  TestClient acute(7002), grave(7002), high(7002);
  acute.Send('e', NamedRecord("caf\xE9"));
  grave.Send('e', NamedRecord("caf\xE8"));
  high.Send('e', NamedRecord("\x80\x9F\xA0\xFF"));
  const auto window =
      halvyn->WaitForWindow([](const json& w) { return w["remoteDevices"].size() == 3; });
  ASSERT_TRUE(window) << halvyn->Window().dump();
  // The list is sorted: 0xE8 before 0xE9.
  EXPECT_EQ((*window)["remoteDevices"], json::array({"cafè", "café", "\u0080\u009F\u00A0ÿ"}));
  const auto port = [](const TestClient& c) { return std::to_string(c.endpoint().port); };
  EXPECT_EQ((*window)["messageLog"],
            "café(127.0.0.1:" + port(acute) + ")login.\r\ncafè(127.0.0.1:" + port(grave) +
                ")login.\r\n\u0080\u009F\u00A0ÿ(127.0.0.1:" + port(high) + ")login.\r\n");
  // Standard output keeps the bytes as they came.
  EXPECT_NE(halvyn->Stdout().find("caf\xE9(127.0.0.1:" + port(acute) + ")login."),
            std::string::npos);
}

}  // namespace
}  // namespace halvyn::testing
