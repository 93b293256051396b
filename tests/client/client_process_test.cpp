// The real halvyn-client against the real halvyn (and, for the route commands,
// against a stand-in relay), over loopback in a network namespace of the
// test's own.
#include "tests/client/client_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include "routes/route_packets.h"
#include "tests/client/fake_relay.h"
#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;
using ::testing::MatchesRegex;

constexpr int kClean = 0;
constexpr int kFailed = 1;
constexpr uint16_t kSlotPort = 14367;

std::string Local(uint16_t port) {
  return "127.0.0.1:" + std::to_string(port);
}

// Runs halvyn-client to its end with no input; its exit status and its lines.
std::pair<std::optional<int>, std::vector<std::string>> RunToEnd(std::vector<std::string> args) {
  ClientProcess client(args);
  client.CloseInput();
  const auto status = client.WaitForExit(10000);
  return {status, client.Lines()};
}

class ClientAgainstHalvyn : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETWORK();
    halvyn.emplace(std::vector<std::string>{"--start"});
    ASSERT_TRUE(halvyn->WaitUntilReady());
    ASSERT_TRUE(halvyn->WaitForWindow([](const json& w) { return w["startStop"] == "Stop"; }));
  }
  std::optional<HalvynProcess> halvyn;
};

TEST_F(ClientAgainstHalvyn, TwoClientsSeeEachOtherAndTheirRequestsAreForwarded) {
  ClientProcess alpha({"--name", "alpha", "--bind", "127.0.0.1:0"});
  const uint16_t alphaPort = alpha.WaitForReadyPort();
  ASSERT_NE(alphaPort, 0);
  alpha.Send("login");
  EXPECT_TRUE(alpha.WaitForLine("recv g name=alpha ip=127.0.0.1 port=" + std::to_string(alphaPort) +
                                " p2p=0.0.0.0:0 "));
  EXPECT_TRUE(alpha.WaitForLine("recv h count=1 names=alpha addrs=" + Local(alphaPort) +
                                " size=120 src=127.0.0.1:7002"));

  ClientProcess beta({"--server", "127.0.0.1:7002", "--name", "beta", "--p2p", "10.9.8.7:4000"});
  const uint16_t betaPort = beta.WaitForReadyPort();
  beta.Send("login");
  EXPECT_TRUE(beta.WaitForLine("recv g name=beta ip=127.0.0.1 port=" + std::to_string(betaPort) +
                               " p2p=10.9.8.7:4000 "));
  EXPECT_TRUE(alpha.WaitForLine("recv h count=2 names=alpha,beta addrs=" + Local(alphaPort) + "," +
                                Local(betaPort) + " size=240 "));
  EXPECT_TRUE(halvyn->WaitForWindow([](const json& w) {
    return w["remoteDevices"] == json::array({"alpha", "beta"});
  }));

  alpha.Send("connect beta");
  EXPECT_TRUE(beta.WaitForLine("recv p from=alpha p2p=0.0.0.0:0 size=120 src=127.0.0.1:7002"));
  beta.Send("info 10.1.2.3 4001");
  EXPECT_TRUE(alpha.WaitForLine(
      "recv i name=beta p2p=10.1.2.3:4001 ip=127.0.0.1 port=" + std::to_string(betaPort) + " "));
  alpha.Send("logout");
  EXPECT_TRUE(beta.WaitForLine("recv h count=1 names=beta "));
  EXPECT_TRUE(halvyn->WaitForWindow(
      [](const json& w) { return w["remoteDevices"] == json::array({"beta"}); }));

  alpha.CloseInput();
  EXPECT_EQ(alpha.WaitForExit(5000), kClean);
  EXPECT_EQ(alpha.Lines()[1], "sent e name=alpha p2p=0.0.0.0:0 size=120 dst=127.0.0.1:7002");
}

TEST_F(ClientAgainstHalvyn, CheckPassesAndLeavesNoClientBehind) {
  const auto [status, lines] = RunToEnd({"--server", "127.0.0.1:7002", "check"});
  EXPECT_EQ(status, kClean);
  ASSERT_EQ(lines.size(), 7u) << ::testing::PrintToString(lines);
  EXPECT_THAT(lines[0], MatchesRegex("check server=127\\.0\\.0\\.1:7002 name=check-[0-9a-f]{8}"));
  EXPECT_THAT(lines[1], MatchesRegex("PASS login [0-9.]+ ms seen_as=127\\.0\\.0\\.1:[0-9]+"));
  EXPECT_THAT(lines[2], MatchesRegex("PASS list [0-9.]+ ms count=1"));
  EXPECT_EQ(lines[3], "PASS keepalive sent");
  EXPECT_THAT(lines[4], MatchesRegex("PASS connect [0-9.]+ ms"));
  EXPECT_EQ(lines[5], "PASS logout sent");
  EXPECT_EQ(lines[6], "OK");

  const std::string name = lines[0].substr(lines[0].find("name=") + 5);
  const auto window = halvyn->WaitForWindow([&](const json& w) {
    return w["messageLog"].get<std::string>().find(name + "(0.0.0.0:0 ) logout.") !=
           std::string::npos;
  });
  ASSERT_TRUE(window) << halvyn->Window()["messageLog"];
  EXPECT_EQ((*window)["remoteDevices"], json::array());
}

TEST_F(ClientAgainstHalvyn, CommandLineCommandsAndExpectSetTheExitStatus) {
  auto [passed, lines] =
      RunToEnd({"--name", "gamma", "login", "expect", "g", "expect", "h", "logout"});
  EXPECT_EQ(passed, kClean) << ::testing::PrintToString(lines);
  EXPECT_THAT(lines, ::testing::Contains("expect h ok"));

  auto [failed, failedLines] = RunToEnd({"--name", "delta", "login", "expect", "z", "0.2"});
  EXPECT_EQ(failed, kFailed);
  ASSERT_GE(failedLines.size(), 2u);
  EXPECT_EQ(failedLines[failedLines.size() - 2], "expect z timeout");
  // It logs out before it exits, so the relay stops listing it at once.
  EXPECT_THAT(failedLines.back(), ::testing::StartsWith("sent f name=delta "));
  EXPECT_TRUE(halvyn->WaitForWindow([](const json& w) { return w["remoteDevices"].empty(); }))
      << halvyn->Window()["remoteDevices"];

  auto [bad, badLines] = RunToEnd({"--name", "delta", "fly"});
  EXPECT_EQ(bad, kFailed);
  EXPECT_EQ(badLines.back(), "error unknown command: fly");
}

TEST(ClientCheck, FailsWithNonZeroStatusWhenNothingListens) {
  REQUIRE_PRIVATE_NETWORK();
  const auto [status, lines] =
      RunToEnd({"--server", "127.0.0.1:7003", "--timeout", "300", "check"});
  EXPECT_EQ(status, kFailed);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "FAIL: no answer to the login from 127.0.0.1:7003 within 300 ms (is the relay running "
            "and its UDP port reachable?)");
}

TEST(ClientSignals, SigtermEndsAClientWaitingForInputOrInAWait) {
  for (const char* pending : {"", "wait 3600"}) {
    ClientProcess client({"--name", "alpha", "--keepalive-interval", "50"});
    ASSERT_NE(client.WaitForReadyPort(), 0);
    if (*pending) client.Send(pending);
    EXPECT_TRUE(client.WaitForLine("sent k name=alpha"));  // its threads are running
    client.Signal(SIGTERM);
    EXPECT_EQ(client.WaitForExit(5000), kClean) << pending;
  }
}

TEST(ClientCommandLine, BadOptionsExitWithUsage) {
  EXPECT_EQ(RunToEnd({"login"}).first, 2);
  EXPECT_EQ(RunToEnd({"--name", "a", "--bind", "127.0.0.1:99999"}).first, 2);
}

// halvyn answers route commands only with a LAN device selected; a stand-in
// relay answers them here the way the server builds its replies.
TEST(ClientRoutes, RouteRepliesProbeAndReleaseNotices) {
  REQUIRE_PRIVATE_NETWORK();
  UdpSocket slot;
  ASSERT_EQ(slot.Bind({NetworkAddress(127, 0, 0, 1), kSlotPort}), 0);
  FakeRelay relay(
      [](const std::vector<uint8_t>& datagram, Ipv4Endpoint source, const UdpSocket& socket) {
        if (datagram[2] == 'r' && datagram.size() >= 228) {
          const auto request = std::span<const uint8_t, 228>(datagram.data(), 228);
          const RouteReplies replies = BuildRouteReplies(request, kSlotPort);
          socket.SendTo(replies.u, RouteRequestBody(request).tx_endpoint());
          socket.SendTo(replies.v, RouteRequestBody(request).rx_endpoint());
        } else if (datagram[2] == 'x' && ReleaseSlotPort(datagram) == kSlotPort) {
          CRouteInfo stored;  // the route as a server would have kept it
          stored.set_tx_name("alpha");
          stored.set_tx_ip(source.address);
          stored.set_tx_port(source.port);
          stored.set_tx_chan_count(2);
          stored.set_tx_chans({3, 4, 0, 0, 0, 0, 0, 0});
          socket.SendTo(BuildReleaseNotice(stored, 't'), source);
          socket.SendTo(BuildReleaseNotice(stored, 's'), source);
        }
      });
  const std::string relayText = Local(relay.endpoint().port);

  ClientProcess alpha({"--server", relayText, "--name", "alpha", "--bind", "127.0.0.1:0"});
  const uint16_t port = alpha.WaitForReadyPort();
  ASSERT_NE(port, 0);
  alpha.Send("route alpha " + Local(port) + " 2 alpha " + Local(port) + " 2 0x1234");
  const std::string route =
      "tx_name=alpha tx=" + Local(port) + " tx_chan_count=2 rx_name=alpha rx=";
  EXPECT_TRUE(alpha.WaitForLine("recv u slot_port=14367 " + route + "127.0.0.1:14367 " +
                                "rx_chan_count=2 tx_param=4660 size=228 src=" + relayText));
  EXPECT_TRUE(alpha.WaitForLine("recv v slot_port=14367 tx_name=alpha tx=127.0.0.1:14367 "));

  // The probe goes to the slot port from the client's own socket.
  alpha.Send("probe 14367");
  ASSERT_TRUE(slot.WaitReadable(3000));
  std::vector<uint8_t> probe(512);
  const ReceiveResult received = slot.ReceiveNow(probe);
  ASSERT_EQ(received.status, ReceiveResult::Status::kDatagram);
  EXPECT_EQ(received.size, 120u);
  EXPECT_EQ(probe[2], 'w');
  EXPECT_EQ(received.source.port, port);

  alpha.Send("release 14367");
  EXPECT_TRUE(alpha.WaitForLine("recv t tx_name=alpha tx=" + Local(port) +
                                " tx_chan_count=2 tx_chans=3/4 rx_name= rx=0.0.0.0:0 "));
  EXPECT_TRUE(alpha.WaitForLine("recv s tx_name=alpha "));
  EXPECT_EQ(relay.letters(), "rx");
}

}  // namespace
}  // namespace halvyn::testing
