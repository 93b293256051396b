// The relay port under abuse, at small scale: the real halvyn with default
// settings, attacked over loopback in a network namespace of the test's own.
// Attackers and victims that the per-address limits must see use 10.9.0.x,
// added to the namespace's loopback (loopback sources are never limited).
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "routes/route_info.h"
#include "routes/route_packets.h"
#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"
#include "tests/support/test_client.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;

constexpr uint16_t kRelayPort = 7002;
const uint32_t kAttacker = NetworkAddress(10, 9, 0, 1);
const uint32_t kVictim = NetworkAddress(10, 9, 0, 2);

std::string Letter(const std::optional<std::vector<uint8_t>>& datagram) {
  return datagram && datagram->size() > 2 ? std::string(1, char((*datagram)[2])) : "";
}

std::vector<uint8_t> RouteRequest(Ipv4Endpoint tx, Ipv4Endpoint rx) {
  CRouteInfo body;
  body.set_tx_name("alpha");
  body.set_tx_ip(tx.address);
  body.set_tx_port(tx.port);
  body.set_tx_chan_count(1);
  body.set_rx_name("beta");
  body.set_rx_ip(rx.address);
  body.set_rx_port(rx.port);
  std::vector<uint8_t> packet(route_packet::kSize, 0);
  packet[0] = 'p';
  packet[1] = 'r';
  packet[2] = route_packet::kRequest;
  body.WriteTo(std::span(packet).subspan<route_packet::kBodyOffset, route_info::kSize>());
  return packet;
}

std::vector<uint8_t> Release(uint16_t slotPort) {
  std::vector<uint8_t> packet(route_packet::kSize, 0);
  packet[0] = 'p';
  packet[1] = 'r';
  packet[2] = route_packet::kRelease;
  packet[120] = uint8_t(slotPort);
  packet[121] = uint8_t(slotPort >> 8);
  return packet;
}

class RelayAbuse : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETWORK();
    ASSERT_EQ(std::system("ip addr add 10.9.0.1/32 dev lo && ip addr add 10.9.0.2/32 dev lo"), 0);
    halvyn.emplace(std::vector<std::string>{"--start"});
    ASSERT_TRUE(halvyn->WaitUntilReady());
    ASSERT_TRUE(halvyn->WaitForWindow([](const json& w) { return w["startStop"] == "Stop"; }));
  }
  // Logs a client in: the letters of its first two answers ("gh").
  static std::string LogIn(TestClient& client, std::string_view name) {
    client.Send('e', NamedRecord(name));
    const std::string first = Letter(client.Receive());
    return first + Letter(client.Receive());
  }

  std::optional<HalvynProcess> halvyn;
};

TEST_F(RelayAbuse, ReleaseFloodForOneSlotDoesNotStallALogin) {
  TestClient attacker(kRelayPort);
  attacker.Send(
      RouteRequest({NetworkAddress(127, 0, 0, 1), 5000}, {NetworkAddress(127, 0, 0, 1), 6000}));
  // Each release zeroes three register blocks with 20 ms of pauses on the
  // window thread; 2,000 of them stacked up would be 40 s of work. About
  // 20,000 a second, so the socket's receive buffer takes them all.
  for (int i = 0; i < 2000; ++i) {
    attacker.Send(Release(14367));
    if (i % 20 == 19) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  TestClient late(kRelayPort);
  EXPECT_EQ(LogIn(late, "late"), "gh");  // within the default 2 s each
  EXPECT_GE(halvyn->Metric("halvyn_relay_datagrams_dropped_total{reason=\"release_pending\"}"),
            1000u);
  halvyn->Signal(SIGTERM);
  EXPECT_EQ(halvyn->WaitForExit(std::chrono::seconds(2)), 0);
}

TEST_F(RelayAbuse, RelogginFloodSendsListsWithinTheBudgetAndEndsWithTheCurrentList) {
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < 20; ++i) {
    clients.push_back(std::make_unique<TestClient>(kRelayPort));
    ASSERT_EQ(LogIn(*clients.back(), "c" + std::to_string(i)), "gh");
  }
  const uint64_t before = *halvyn->Metric("halvyn_relay_bytes_sent_total{kind=\"broadcast\"}");
  // Unpaced, each relogin sends 20 lists of 2,400 bytes: 48 MB for these 1,000.
  for (int i = 0; i < 1000; ++i) clients[0]->Send('e', NamedRecord("c0"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const uint64_t sent =
      *halvyn->Metric("halvyn_relay_bytes_sent_total{kind=\"broadcast\"}") - before;
  EXPECT_LT(sent, 12000000u);
  EXPECT_GE(*halvyn->Metric("halvyn_relay_lists_merged_total"), 1u);
  // The last list every client got holds all 20.
  std::optional<std::vector<uint8_t>> last, next;
  while ((next = clients[19]->Receive(300))) last = next;
  ASSERT_TRUE(last);
  EXPECT_EQ(last->size(), 20u * 120);
}

TEST_F(RelayAbuse, FreshNamesFromOneAddressStopAtItsLimit) {
  // One socket bound at the victim's address logs in 70 names.
  TestClient victim(kRelayPort, kVictim);
  for (int i = 0; i < 70; ++i) victim.Send('e', NamedRecord("fake" + std::to_string(i)));
  auto window = halvyn->WaitForWindow([](const json& w) {
    return w["messageLog"].get<std::string>().find(
               "Limit: logins from 10.9.0.2 refused (over 64 names).\r\n") != std::string::npos;
  });
  ASSERT_TRUE(window);
  EXPECT_EQ((*window)["remoteDevices"].size(), 64u);
  for (const auto& name : (*window)["remoteDevices"])
    EXPECT_LT(std::stoi(name.get<std::string>().substr(4)), 64);
  EXPECT_EQ(halvyn->Metric("halvyn_relay_limited_total{limit=\"names_per_ip\"}"), 6u);
}

TEST_F(RelayAbuse, AnotherAddressCannotMoveReportOrLogOutAClient) {
  TestClient alpha(kRelayPort), beta(kRelayPort);
  ASSERT_EQ(LogIn(alpha, "alpha"), "gh");
  ASSERT_EQ(LogIn(beta, "beta"), "gh");
  alpha.Receive();  // beta's login list
  TestClient attacker(kRelayPort, kAttacker);
  ClientRecord forged = NamedRecord("alpha");
  forged.set_p2p_port(4444);
  attacker.Send('k', forged);
  attacker.Send('i', forged);
  attacker.Send('f', forged);
  // beta's connect request still reaches alpha where it logged in.
  beta.Send(ConnectRequest(NamedRecord("beta"), "alpha"));
  auto forwarded = alpha.Receive();
  ASSERT_EQ(Letter(forwarded), "p");
  EXPECT_TRUE(beta.Silent());  // no "i", no list: nothing changed
  EXPECT_EQ(halvyn->Window()["remoteDevices"], json::array({"alpha", "beta"}));
  EXPECT_EQ(halvyn->Metric("halvyn_relay_datagrams_dropped_total{reason=\"wrong_source\"}"), 3u);
}

TEST_F(RelayAbuse, RouteWorkAddressedToNowhereIsNotSent) {
  UdpSocket anyLocalDevice, anyLocalPort;
  ASSERT_EQ(anyLocalDevice.Bind({0, 4440}), 0);  // no device is selected
  ASSERT_EQ(anyLocalPort.Bind({0, 5000}), 0);
  TestClient requester(kRelayPort);
  requester.Send(RouteRequest({0, 5000}, {NetworkAddress(127, 0, 0, 1), 0}));
  requester.Send(Release(14367));
  EXPECT_FALSE(anyLocalDevice.WaitReadable(500));
  EXPECT_FALSE(anyLocalPort.WaitReadable(0));
  EXPECT_EQ(halvyn->Metric("halvyn_relay_unaddressed_replies_total"), 4u);  // u, v, t, s
}

TEST_F(RelayAbuse, RepeatedIdenticalMessageBoxesAreOneBoxWithACount) {
  TestClient requester(kRelayPort);
  // A released route's port-learning listener still holds its slot port when
  // the slot is granted again: "binding ip failure." each time.
  for (int i = 0; i < 4; ++i) {
    requester.Send(
        RouteRequest({NetworkAddress(127, 0, 0, 1), 5000}, {NetworkAddress(127, 0, 0, 1), 6000}));
    requester.Send(Release(14367));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the window releases the slot
  }
  auto window = halvyn->WaitForWindow(
      [](const json& w) { return w["messageBoxCounts"] == json::array({3}); });
  ASSERT_TRUE(window) << halvyn->Window().dump();
  EXPECT_EQ((*window)["messageBoxes"], json::array({"binding ip failure."}));
}

}  // namespace
}  // namespace halvyn::testing
