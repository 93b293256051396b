// The relay server as a client and the operator see it: the real halvyn,
// loopback UDP, and the console API, in a network namespace of the test's own.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"
#include "tests/support/test_client.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;

constexpr uint16_t kRelayPort = 7002;

std::string Letter(const std::optional<std::vector<uint8_t>>& datagram) {
  return datagram && datagram->size() > 2 ? std::string(1, char((*datagram)[2])) : "";
}

std::string LogOf(const json& window) {
  return window["messageLog"].get<std::string>();
}

class RelayProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETWORK();
    halvyn.emplace(std::vector<std::string>{"--start"});
    ASSERT_TRUE(halvyn->WaitUntilReady());
    ASSERT_TRUE(halvyn->WaitForWindow([](const json& w) { return w["startStop"] == "Stop"; }));
  }
  // Logs a client in and reads its "g" and "h".
  void LogIn(TestClient& client, std::string_view name) {
    client.Send('e', NamedRecord(name));
    ASSERT_EQ(Letter(client.Receive()), "g");
    ASSERT_EQ(Letter(client.Receive()), "h");
  }
  json WaitForLog(std::string_view text) {
    auto window = halvyn->WaitForWindow(
        [&](const json& w) { return LogOf(w).find(text) != std::string::npos; });
    EXPECT_TRUE(window) << "log never showed: " << text << "\nlog: " << LogOf(halvyn->Window());
    return window.value_or(json{});
  }

  std::optional<HalvynProcess> halvyn;
};

TEST_F(RelayProtocol, LoginIsListedLoggedAndPrintedOnStdout) {
  TestClient alpha(kRelayPort);
  LogIn(alpha, "alpha");
  const std::string line =
      "alpha(127.0.0.1:" + std::to_string(alpha.endpoint().port) + ")login.\r\n";
  json window = WaitForLog(line);
  EXPECT_EQ(window["remoteDevices"], json::array({"alpha"}));
  EXPECT_EQ(LogOf(window), line);
  EXPECT_NE(halvyn->Stdout().find(line.substr(0, line.size() - 2) + "\n"), std::string::npos);
}

TEST_F(RelayProtocol, LoginLongerThanTheReceiveBufferIsDroppedUnanswered) {
  TestClient alpha(kRelayPort);
  std::vector<uint8_t> login = RecordForm('e', NamedRecord("alpha"));
  login.resize(1100);  // a valid login and trailing bytes: cut, it would read as one
  alpha.Send(login);
  EXPECT_TRUE(alpha.Silent());
  login.resize(1024);  // exactly the buffer: whole, and answered
  alpha.Send(login);
  EXPECT_EQ(Letter(alpha.Receive()), "g");
  EXPECT_EQ(LogOf(WaitForLog("login.")),
            "alpha(127.0.0.1:" + std::to_string(alpha.endpoint().port) + ")login.\r\n");
}

TEST_F(RelayProtocol, SecondLoginListsBothAndTheListIsSortedIgnoringCase) {
  TestClient zeta(kRelayPort), alpha(kRelayPort), beta(kRelayPort);
  LogIn(zeta, "zeta");
  LogIn(alpha, "Alpha");
  EXPECT_EQ(zeta.Receive()->size(), 240u);  // the list that alpha's login sent
  LogIn(beta, "beta");
  auto window = halvyn->WaitForWindow([](const json& w) { return w["remoteDevices"].size() == 3; });
  ASSERT_TRUE(window);
  EXPECT_EQ((*window)["remoteDevices"], json::array({"Alpha", "beta", "zeta"}));
}

TEST_F(RelayProtocol, DuplicateLoginFromAnotherAddressGetsNoGAndNoLogLine) {
  TestClient first(kRelayPort), impostor(kRelayPort, NetworkAddress(127, 0, 0, 2));
  LogIn(first, "alpha");
  impostor.Send('e', NamedRecord("alpha"));
  auto list = first.Receive();  // the list goes to the stored address
  ASSERT_EQ(Letter(list), "h");
  EXPECT_EQ(ClientRecord::At(*list, 4).value().ip(), NetworkAddress(127, 0, 0, 1));
  EXPECT_TRUE(impostor.Silent());
  const std::string log = LogOf(halvyn->Window());
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST_F(RelayProtocol, FortyCharacterNameIsListedAsItsFirst31) {
  TestClient client(kRelayPort);
  auto datagram = RecordForm('e', NamedRecord(""));
  std::fill(datagram.begin() + 4, datagram.begin() + 44, 'x');
  client.Send(datagram);
  auto g = client.Receive();
  ASSERT_EQ(Letter(g), "g");
  EXPECT_EQ((*g)[35], 0);
  auto window = halvyn->WaitForWindow([](const json& w) { return w["remoteDevices"].size() == 1; });
  ASSERT_TRUE(window);
  EXPECT_EQ((*window)["remoteDevices"][0], std::string(31, 'x'));
}

TEST_F(RelayProtocol, KeepAliveWithNewP2pPortLogsTheInfoLineAndTellsNoClient) {
  TestClient alpha(kRelayPort), beta(kRelayPort);
  LogIn(alpha, "alpha");
  LogIn(beta, "beta");
  alpha.Receive();  // beta's list
  ClientRecord report = NamedRecord("alpha");
  report.set_p2p_port(65535);
  alpha.Send('k', report);
  WaitForLog("alpha  p2p_port : 65535.\r\n");
  EXPECT_TRUE(alpha.Silent());
  EXPECT_TRUE(beta.Silent());
}

TEST_F(RelayProtocol, KeepAliveFromANewNatPortMovesWhereTheClientIsReached) {
  TestClient alpha(kRelayPort), moved(kRelayPort), beta(kRelayPort);
  LogIn(alpha, "alpha");
  moved.Send('k', NamedRecord("alpha"));  // same address, new port
  EXPECT_TRUE(moved.Silent());
  LogIn(beta, "beta");
  auto list = moved.Receive();
  ASSERT_EQ(Letter(list), "h");  // the list now goes to the new port
  EXPECT_TRUE(alpha.Silent());
}

TEST_F(RelayProtocol, InfoIsBroadcastToEveryClientAndLogged) {
  TestClient alpha(kRelayPort), beta(kRelayPort);
  LogIn(alpha, "alpha");
  LogIn(beta, "beta");
  alpha.Receive();
  ClientRecord report = NamedRecord("beta");
  report.set_p2p_ip(NetworkAddress(10, 0, 0, 9));
  report.set_p2p_port(5555);
  beta.Send('i', report);
  for (TestClient* client : {&alpha, &beta}) {
    auto info = client->Receive();
    ASSERT_EQ(Letter(info), "i");
    ASSERT_EQ(info->size(), 120u);
    EXPECT_EQ((*info)[3], 0);
    const ClientRecord record = ClientRecord::At(*info, 4).value();
    EXPECT_EQ(record.name(), "beta");
    EXPECT_EQ(record.p2p_port(), 5555);
    EXPECT_EQ(record.p2p_ip(), NetworkAddress(10, 0, 0, 9));
  }
  WaitForLog("beta  p2p_port : 5555.\r\n");
}

TEST_F(RelayProtocol, ConnectToSelfComesBackAndToAnUnknownNameGoesNowhere) {
  TestClient alpha(kRelayPort);
  LogIn(alpha, "alpha");
  alpha.Send(ConnectRequest(NamedRecord("alpha"), "alpha"));
  auto forwarded = alpha.Receive();
  ASSERT_EQ(Letter(forwarded), "p");
  EXPECT_EQ(forwarded->size(), 120u);
  WaitForLog("Foward p2p_connect.\r\n");
  alpha.Send(ConnectRequest(NamedRecord("alpha"), "nobody"));
  EXPECT_TRUE(alpha.Silent());
}

TEST_F(RelayProtocol, LogoutUnlistsTheNameAndLogsThePacketsAddress) {
  TestClient alpha(kRelayPort), beta(kRelayPort);
  LogIn(alpha, "alpha");
  LogIn(beta, "beta");
  alpha.Receive();
  ClientRecord logout = NamedRecord("alpha");
  logout.set_ip(NetworkAddress(198, 51, 100, 7));
  logout.set_port(30000);
  alpha.Send('f', logout);
  EXPECT_EQ(beta.Receive()->size(), 120u);  // the list without alpha
  json window = WaitForLog("alpha(198.51.100.7:30000 ) logout.\r\n");
  EXPECT_EQ(window["remoteDevices"], json::array({"beta"}));
}

TEST_F(RelayProtocol, ThreeHundredClientsGetThe36000ByteList) {
  std::vector<std::unique_ptr<TestClient>> clients;
  // One login at a time, each answered before the next, so no login is lost
  // in a full socket buffer while the server sends the growing lists.
  for (int i = 0; i < 299; ++i) {
    clients.push_back(std::make_unique<TestClient>(kRelayPort));
    clients.back()->Send('e', NamedRecord("c" + std::to_string(i)));
    ASSERT_EQ(Letter(clients.back()->Receive()), "g") << i;
  }
  TestClient last(kRelayPort);
  last.Send('e', NamedRecord("last"));
  ASSERT_EQ(Letter(last.Receive()), "g");
  auto list = last.Receive();
  ASSERT_TRUE(list);
  EXPECT_EQ(list->size(), 36000u);
  EXPECT_EQ((*list)[3], 44);
  EXPECT_EQ(ClientRecord::At(*list, 35880 + 4).value().name(), "last");
}

TEST_F(RelayProtocol, ClearClientsEmptiesListAndTableAndSendsNothing) {
  TestClient alpha(kRelayPort), beta(kRelayPort);
  LogIn(alpha, "alpha");
  LogIn(beta, "beta");
  alpha.Receive();
  json window;
  ASSERT_EQ(halvyn->Command("clear-clients", nullptr, &window), 200);
  EXPECT_EQ(window["remoteDevices"], json::array());
  EXPECT_TRUE(alpha.Silent());
  // The table is empty too: a keep-alive does not bring alpha back, a login does.
  alpha.Send('k', NamedRecord("alpha"));
  alpha.Send(ConnectRequest(NamedRecord("alpha"), "beta"));
  EXPECT_TRUE(beta.Silent());
  LogIn(alpha, "alpha");
}

TEST_F(RelayProtocol, SilentClientTimesOutAndTheOthersGetTheNewList) {
  TestClient silent(kRelayPort), talker(kRelayPort);
  LogIn(silent, "silent");
  LogIn(talker, "talker");
  silent.Receive();
  // talker keeps alive; silent says nothing more.
  const auto start = std::chrono::steady_clock::now();
  std::optional<std::vector<uint8_t>> list;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(32)) {
    talker.Send('k', NamedRecord("talker"));
    if ((list = talker.Receive(1000))) break;
  }
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(list) << "no list after the timeout";
  EXPECT_EQ(list->size(), 120u);
  EXPECT_EQ(ClientRecord::At(*list, 4).value().name(), "talker");
  EXPECT_GE(waited, std::chrono::milliseconds(24000));
  json window =
      WaitForLog("silent(127.0.0.1:" + std::to_string(silent.endpoint().port) + ") timeout.\r\n");
  EXPECT_EQ(window["remoteDevices"], json::array({"talker"}));
}

}  // namespace
}  // namespace halvyn::testing
