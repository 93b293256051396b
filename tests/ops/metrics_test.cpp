// GET /metrics during a whole run: the real halvyn with a simulated device,
// two clients, a route, STUN answers and stray datagrams, on the test's own
// network namespace. Every figure is checked against the traffic sent.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/byte_order.h"
#include "routes/route_info.h"
#include "tests/rig/rig_process.h"
#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"
#include "tests/support/test_client.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;

constexpr uint16_t kRelayPort = 7002;
constexpr uint16_t kFirstSlotPort = 14367;

using Samples = std::map<std::string, uint64_t>;

// "name{labels}" -> value; empty when the scrape failed.
Samples Parse(const std::string& page) {
  Samples samples;
  std::istringstream lines(page);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.rfind(' ');
    samples[line.substr(0, space)] = std::stoull(line.substr(space + 1));
  }
  return samples;
}

Samples Scrape(const std::string& host = "127.0.0.1", uint16_t port = 7080) {
  httplib::Client client(host, port);
  client.set_read_timeout(10, 0);
  const auto res = client.Get("/metrics");
  if (!res || res->status != 200) return {};
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  return Parse(res->body);
}

// Waits until the client has read a datagram with this letter (skipping none).
void Expect(TestClient& client, char letter) {
  const auto datagram = client.Receive();
  ASSERT_TRUE(datagram) << "no '" << letter << "'";
  ASSERT_EQ(char((*datagram)[2]), letter);
}

std::vector<uint8_t> RoutePacket(uint8_t letter, const CRouteInfo& route) {
  std::vector<uint8_t> packet(relay_packet::kRouteFormSize, 0);
  relay_packet::WriteHeader(std::span(packet).first<relay_packet::kHeaderSize>(), letter, 0);
  route.WriteTo(std::span<uint8_t, route_info::kSize>(packet.data() + relay_packet::kRecordFormSize,
                                                      route_info::kSize));
  return packet;
}

std::vector<uint8_t> Release(uint16_t slotPort, size_t size = relay_packet::kRouteFormSize) {
  std::vector<uint8_t> packet(size, 0);
  relay_packet::WriteHeader(std::span(packet).first<relay_packet::kHeaderSize>(), 'x', 0);
  if (size >= 122) StoreLe16(&packet[relay_packet::kRecordFormSize], slotPort);
  return packet;
}

// A STUN Binding Success Response with one MAPPED-ADDRESS: 203.0.113.5:54321.
std::vector<uint8_t> StunAnswer() {
  std::vector<uint8_t> answer = {0x01, 0x01, 0x00, 0x0C, 0x21, 0x12, 0xA4, 0x42};
  answer.resize(20, 0x07);
  for (uint8_t byte : {0x00, 0x01, 0x00, 0x08, 0x00, 0x01, 0xD4, 0x31, 203, 0, 113, 5})
    answer.push_back(byte);
  return answer;
}

TEST(Metrics, FiguresMatchTheTrafficOfAWholeRun) {
  REQUIRE_PRIVATE_NETWORK();
  char pattern[] = "/tmp/halvyn-metrics-XXXXXX";
  const std::string directory = mkdtemp(pattern);
  rig::RigProcess devsim(
      {HALVYN_DEVSIM, "--interval-ms", "200", "--interface", "127.0.0.1", "--quiet"},
      directory + "/devsim.txt");
  ASSERT_TRUE(devsim.WaitForOutput("listening", 5000)) << devsim.Output();
  HalvynProcess halvyn({"--start"});
  ASSERT_TRUE(halvyn.WaitUntilReady());
  ASSERT_TRUE(halvyn.WaitForWindow([](const json& w) { return w["lanDevices"].size() == 1; }));
  ASSERT_EQ(halvyn.Command("select-device", nullptr, nullptr, 0), 200);

  TestClient alpha(kRelayPort), beta(kRelayPort);
  alpha.Send('e', NamedRecord("alpha"));  // g; h (120) to alpha
  Expect(alpha, 'g');
  Expect(alpha, 'h');
  beta.Send('e', NamedRecord("beta"));  // g; h (240) to both
  Expect(beta, 'g');
  Expect(beta, 'h');
  Expect(alpha, 'h');
  alpha.Send('e', NamedRecord("alpha"));  // already present: h (240) to both
  Expect(alpha, 'h');
  Expect(beta, 'h');
  alpha.Send('i', NamedRecord("alpha"));  // i (120) to both
  Expect(alpha, 'i');
  Expect(beta, 'i');
  beta.Send('k', NamedRecord("beta"));
  beta.Send('k', NamedRecord("ghost"));                      // unknown name
  alpha.Send(ConnectRequest(NamedRecord("alpha"), "beta"));  // forwarded to beta
  Expect(beta, 'p');
  alpha.Send(ConnectRequest(NamedRecord("alpha"), "nobody"));  // unknown name
  alpha.Send(std::vector<uint8_t>(5, 'p'));                    // too short
  alpha.Send(std::vector<uint8_t>(130, 'q'));                  // bad magic
  alpha.Send(RecordForm('z', NamedRecord("alpha")));           // unhandled letter
  std::vector<uint8_t> shortRoute(200, 0);
  relay_packet::WriteHeader(std::span(shortRoute).first<relay_packet::kHeaderSize>(), 'r', 0);
  alpha.Send(shortRoute);  // short route request
  std::vector<uint8_t> oversizedLogin = RecordForm('e', NamedRecord("alpha"));
  oversizedLogin.resize(1025);  // longer than the receive buffer: dropped unread
  alpha.Send(oversizedLogin);

  CRouteInfo route;
  route.set_tx_ip(NetworkAddress(127, 0, 0, 1));
  route.set_tx_port(alpha.endpoint().port);
  route.set_tx_chan_count(2);
  route.set_rx_ip(NetworkAddress(127, 0, 0, 1));
  route.set_rx_port(beta.endpoint().port);
  route.set_rx_chan_count(2);
  route.set_tx_name("alpha");
  route.set_rx_name("beta");
  alpha.Send(RoutePacket('r', route));  // granted: u, v; receive and summary blocks
  Expect(alpha, 'u');
  Expect(beta, 'v');
  UdpSocket probeSocket;
  ASSERT_EQ(probeSocket.Bind({NetworkAddress(127, 0, 0, 1), 0}), 0);
  std::vector<uint8_t> probe(relay_packet::kRecordFormSize, 0);
  probe[relay_packet::kCommandOffset] = 'w';
  ASSERT_TRUE(probeSocket.SendTo(probe, {NetworkAddress(127, 0, 0, 1), kFirstSlotPort}));
  ASSERT_TRUE(halvyn.WaitForWindow([](const json& w) { return w["forwardRoutes"].size() == 1; }));

  // Mid-run: the route is allocated and active, and an event stream is open.
  std::atomic<bool> streamOpen{false}, closeStream{false};
  std::thread stream([&] {
    httplib::Client client("127.0.0.1", 7080);
    client.set_read_timeout(10, 0);
    client.Get("/api/events", [&](const char*, size_t) {
      streamOpen = true;
      return !closeStream.load();
    });
  });
  for (int i = 0; i < 200 && !streamOpen; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(streamOpen);
  const Samples during = Scrape();
  closeStream = true;
  stream.join();
  EXPECT_EQ(during.at("halvyn_routes_allocated"), 1u);
  EXPECT_EQ(during.at("halvyn_routes_active"), 1u);
  EXPECT_EQ(during.at("halvyn_relay_clients_online"), 2u);
  EXPECT_EQ(during.at("halvyn_relay_running"), 1u);
  EXPECT_EQ(during.at("halvyn_lan_devices"), 1u);
  EXPECT_EQ(during.at("halvyn_console_event_streams"), 1u);

  alpha.Send(Release(14400));           // names no slot
  alpha.Send(Release(0, 120));          // no slot port at all
  alpha.Send(Release(kFirstSlotPort));  // t, s; three zeroing writes
  Expect(alpha, 't');
  Expect(beta, 's');
  route.set_tx_chan_count(9);
  alpha.Send(RoutePacket('r', route));  // refused: u, v with slot port 0
  Expect(alpha, 'u');
  Expect(beta, 'v');
  ASSERT_TRUE(halvyn.WaitForWindow([](const json& w) { return w["forwardRoutes"].empty(); }));

  // The device socket: a STUN request to a server that is not there, an
  // answer that is accepted and a datagram that is not one.
  ASSERT_EQ(halvyn.Command("get-public-ip", {{"stunServer", "127.0.0.1"}}), 200);
  UdpSocket other;
  ASSERT_EQ(other.Bind({NetworkAddress(127, 0, 0, 1), 0}), 0);
  ASSERT_TRUE(other.SendTo(StunAnswer(), {NetworkAddress(127, 0, 0, 1), 19002}));
  ASSERT_TRUE(
      halvyn.WaitForWindow([](const json& w) { return w["publicAddress"] == "203.0.113.5"; }));
  ASSERT_TRUE(other.SendTo(std::vector<uint8_t>(30, 0x55), {NetworkAddress(127, 0, 0, 1), 19002}));
  ASSERT_TRUE(
      other.SendTo(std::vector<uint8_t>(5000, 0x55), {NetworkAddress(127, 0, 0, 1), 19002}));
  // An announcement of 87 bytes from an address no device has.
  UdpSocket stranger;
  ASSERT_EQ(stranger.Bind({NetworkAddress(127, 0, 0, 2), 0}), 0);
  ASSERT_TRUE(
      stranger.SendTo(std::vector<uint8_t>(87, 0xAB), {NetworkAddress(224, 0, 0, 222), 9887}));

  alpha.Send('f', NamedRecord("alpha"));  // h (120) to beta
  Expect(beta, 'h');

  Samples after;
  // The last datagrams are read on other threads, and the console notices the
  // closed event stream at its next heartbeat: wait for them (5 s at most).
  for (int i = 0; i < 250; ++i) {
    after = Scrape();
    if (after["halvyn_stun_answers_total{result=\"rejected\"}"] == 1 &&
        after["halvyn_device_socket_oversized_total"] == 1 &&
        after["halvyn_device_announcements_total{result=\"ignored\"}"] == 1 &&
        after["halvyn_console_event_streams"] == 0)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(after.empty());
  const std::map<std::string, uint64_t> expected = {
      {R"(halvyn_relay_datagrams_received_total{command="e"})", 3},
      {R"(halvyn_relay_datagrams_received_total{command="f"})", 1},
      {R"(halvyn_relay_datagrams_received_total{command="i"})", 1},
      {R"(halvyn_relay_datagrams_received_total{command="k"})", 2},
      {R"(halvyn_relay_datagrams_received_total{command="p"})", 2},
      {R"(halvyn_relay_datagrams_received_total{command="r"})", 3},
      {R"(halvyn_relay_datagrams_received_total{command="x"})", 3},
      {R"(halvyn_relay_datagrams_received_total{command="z"})", 1},
      {R"(halvyn_relay_datagrams_dropped_total{reason="too_short"})", 1},
      {R"(halvyn_relay_datagrams_dropped_total{reason="bad_magic"})", 1},
      {R"(halvyn_relay_datagrams_dropped_total{reason="unhandled_letter"})", 1},
      {R"(halvyn_relay_datagrams_dropped_total{reason="unknown_name"})", 2},
      {R"(halvyn_relay_datagrams_dropped_total{reason="short_route_request"})", 2},
      {R"(halvyn_relay_datagrams_dropped_total{reason="bad_slot_port"})", 1},
      {R"(halvyn_relay_datagrams_dropped_total{reason="oversized"})", 1},
      // g, g, p, u, v, t, s, u, v
      {R"(halvyn_relay_datagrams_sent_total{kind="reply"})", 9},
      {R"(halvyn_relay_bytes_sent_total{kind="reply"})", 3 * 120 + 6 * 228},
      // h: 1 + 2 + 2 + 1; i: 2
      {R"(halvyn_relay_datagrams_sent_total{kind="broadcast"})", 8},
      {R"(halvyn_relay_bytes_sent_total{kind="broadcast"})",
       120 + 2 * 240 + 2 * 240 + 2 * 120 + 120},
      {"halvyn_relay_send_failures_total", 0},
      {"halvyn_relay_clients_online", 1},
      {"halvyn_relay_logins_total", 2},
      {"halvyn_relay_logouts_total", 1},
      {"halvyn_relay_timeouts_total", 0},
      {"halvyn_routes_allocated", 0},
      {"halvyn_routes_active", 0},
      {R"(halvyn_route_requests_total{result="granted"})", 1},
      {R"(halvyn_route_requests_total{result="refused"})", 1},
      {"halvyn_route_slot_oversized_total", 0},
      // 16 at selection, 2 at the grant, 1 at the probe, 3 at the release
      {"halvyn_device_register_writes_total", 22},
      {"halvyn_device_setup_datagrams_total", 1},
      {R"(halvyn_device_announcements_total{result="accepted"})", 1},
      {R"(halvyn_device_announcements_total{result="ignored"})", 1},
      {"halvyn_stun_requests_sent_total", 1},
      {R"(halvyn_stun_answers_total{result="accepted"})", 1},
      {R"(halvyn_stun_answers_total{result="rejected"})", 1},
      {"halvyn_device_socket_oversized_total", 1},
      {"halvyn_console_event_streams", 0},
      {"halvyn_relay_running", 1},
      {"halvyn_lan_devices", 1},
  };
  for (const auto& [sample, value] : expected) {
    ASSERT_TRUE(after.contains(sample)) << sample;
    EXPECT_EQ(after.at(sample), value) << sample;
  }
  EXPECT_GE(after.at(R"(halvyn_device_announcements_total{result="known"})"), 1u);
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
}

// The first answer to GET path from a console that may still be starting.
httplib::Result FirstAnswer(httplib::Client& client, const std::string& path) {
  client.set_read_timeout(10, 0);
  auto res = client.Get(path);
  for (int i = 0; i < 200 && !res; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    res = client.Get(path);
  }
  return res;
}

TEST(Metrics, FollowTheConsoleAccessRules) {
  REQUIRE_PRIVATE_NETWORK();
  // An address of this namespace's own, so the console is not on loopback.
  ASSERT_EQ(std::system("ip addr add 10.77.0.1/32 dev lo"), 0);
  HalvynProcess::Options options = HalvynProcess::WithArgs({"--token", "s3cret"});
  options.consoleAddress = "10.77.0.1";
  HalvynProcess halvyn(options);
  httplib::Client client("10.77.0.1", 7080);
  auto res = FirstAnswer(client, "/metrics");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 401);
  res = client.Get("/metrics", {{"Authorization", "Bearer s3cret"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_NE(res->body.find("\nhalvyn_relay_running 0\n"), std::string::npos);
  // With a token, the token is the guard: any Host name will do.
  res =
      client.Get("/metrics", {{"Authorization", "Bearer s3cret"}, {"Host", "halvyn.example:7080"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  res = client.Get("/metrics", {{"Host", "halvyn.example:7080"}});
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 401);
}

// A token given in HALVYN_TOKEN (kept out of the process list) guards the
// console like --token does; --token wins when both are given.
TEST(ConsoleToken, ComesFromTheEnvironmentUnlessTheCommandLineGivesOne) {
  REQUIRE_PRIVATE_NETWORK();
  ASSERT_EQ(std::system("ip addr add 10.77.0.2/32 dev lo"), 0);
  ASSERT_EQ(setenv("HALVYN_TOKEN", "from-environment", 1), 0);
  for (const bool onCommandLine : {false, true}) {
    SCOPED_TRACE(onCommandLine ? "--token given" : "environment only");
    HalvynProcess::Options options = HalvynProcess::WithArgs(
        onCommandLine ? std::vector<std::string>{"--token", "s3cret"} : std::vector<std::string>{});
    options.consoleAddress = "10.77.0.2";
    HalvynProcess halvyn(options);
    httplib::Client client("10.77.0.2", 7080);
    auto res = FirstAnswer(client, "/api/window");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
    const std::string good = onCommandLine ? "s3cret" : "from-environment";
    const std::string other = onCommandLine ? "from-environment" : "s3cret";
    res = client.Get("/api/window", {{"Authorization", "Bearer " + good}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    res = client.Get("/api/window", {{"Authorization", "Bearer " + other}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
    halvyn.Signal(SIGTERM);
    ASSERT_TRUE(halvyn.WaitForExit(std::chrono::seconds(5)));
    // A token that was given is never printed.
    EXPECT_EQ(halvyn.Stdout().find("Console token"), std::string::npos);
  }
  unsetenv("HALVYN_TOKEN");
}

}  // namespace
}  // namespace halvyn::testing
