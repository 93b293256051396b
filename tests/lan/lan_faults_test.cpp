// When the network around halvyn fails: the device discovery group cannot be
// joined, the selected device is gone or refuses its datagrams, the process
// is told to end in the middle of programming a route. The real halvyn on the
// namespace LAN of lan_test_fixture.h; its console must keep answering and
// say plainly what failed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/udp_socket.h"
#include "tests/lan/lan_test_fixture.h"
#include "tests/lan/remote_client.h"
#include "tests/rig/network_namespace_thread.h"
#include "tests/stun/stun_answers.h"
#include "tests/support/test_client.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;
using rig::RigProcess;

constexpr uint16_t kDiscoveryPort = 9887;
const uint32_t kDiscoveryGroup = NetworkAddress(224, 0, 0, 222);
const uint32_t kPcNetworkAddress = NetworkAddress(10, 200, 0, 10);
const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);
const Ipv4Endpoint kDeviceSocket{kLoopback, 19002};
constexpr char kServer[] = "10.200.0.10:7002";
// One-channel route from the remote client in the gateway's namespace to itself.
constexpr char kRouteCommand[] = "route far 10.200.0.1:5000 1 far 10.200.0.1:5000 1";
constexpr int kSelectionDatagrams = 17;

// The CPU time (user + system) the process has used so far, in milliseconds.
std::optional<long> CpuMilliseconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t end = stat.rfind(')');  // the command name may hold spaces
  if (end == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(end + 2));
  std::string field;
  long utime = 0, stime = 0;
  // Fields from 3 (state) on; utime and stime are fields 14 and 15.
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

// How often a text occurs in another.
size_t Occurrences(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

class LanFaultTest : public LanTest {
 protected:
  void TearDown() override {
    clients_.clear();
    LanTest::TearDown();
  }

  // A socket made inside the PC's namespace (so it reaches halvyn's loopback).
  std::unique_ptr<UdpSocket> PcSocket(Ipv4Endpoint bindTo, bool reuseAddress = false) {
    std::unique_ptr<UdpSocket> socket;
    int error = -1;
    EXPECT_TRUE(rig::RunInNetworkNamespace(pc_, [&] {
      socket = std::make_unique<UdpSocket>();
      error = socket->Bind(bindTo, reuseAddress);
    }));
    EXPECT_EQ(error, 0);
    return socket;
  }

  // An answer on the device socket is still read and shown.
  void ExpectStunAnswerTaken(uint32_t address, const std::string& dotted) {
    const auto server = PcSocket({kLoopback, 0});
    ASSERT_TRUE(server->SendTo(MappedAnswer(address, 40000), kDeviceSocket));
    WaitForWindow([&](const json& w) { return w["publicAddress"] == dotted; });
  }

  // halvyn-client in the gateway's namespace, as a remote device at 10.200.0.1:5000.
  RemoteClient& StartFarClient() {
    clients_.push_back(std::make_unique<RemoteClient>(
        *rig_, gateway_,
        std::vector<std::string>{"--server", kServer, "--bind", "0.0.0.0:5000", "--name", "far",
                                 "--keepalive-interval", "5000"}));
    return *clients_.back();
  }

  std::vector<std::unique_ptr<RemoteClient>> clients_;
};

// --- The discovery group cannot be joined -----------------------------------

TEST_F(LanFaultTest, FailedGroupJoinIsShownOnceAndTheRestOfTheConsoleWorks) {
  StartDevsim(AddDevice(1), {"--id", "DEV-1", "--name", "Stage Left"});
  // Without a default route nothing routes 224.0.0.0/4: joining the group on
  // "any interface" finds no interface (ENODEV).
  const rig::CommandResult removed = rig_->Exec(pc_, {"ip", "route", "del", "default"});
  ASSERT_EQ(removed.exitCode, 0) << removed.output;
  StartHalvyn();
  WaitForWindow(
      [](const json& w) { return w["messageBoxes"] == json::array({"JoinGroup failed"}); });

  // The announcements do reach the PC: a socket that joins on the adapter itself hears them.
  const auto witness = PcSocket({0, kDiscoveryPort}, true);
  ASSERT_EQ(witness->JoinGroup(kDiscoveryGroup, kPcNetworkAddress), 0);
  EXPECT_TRUE(witness->WaitReadable(Scaled(3000))) << "no announcement reached the PC";
  std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(600)));
  json window = halvyn_->Window();
  EXPECT_EQ(window["lanDevices"], json::array());
  EXPECT_EQ(window["messageBoxes"], json::array({"JoinGroup failed"}));
  EXPECT_EQ(Occurrences(halvyn_->Stderr(), "JoinGroup failed"), 1u) << halvyn_->Stderr();

  // Start, and a client logs in.
  ASSERT_EQ(halvyn_->Command("dismiss-message", nullptr, &window), 200);
  ASSERT_EQ(halvyn_->Command("start-stop", nullptr, &window), 200);
  EXPECT_EQ(window["startStop"], "Stop");
  std::optional<TestClient> client;
  ASSERT_TRUE(rig::RunInNetworkNamespace(pc_, [&] { client.emplace(7002); }));
  client->Send('e', NamedRecord("alpha"));
  const auto answer = client->Receive(Scaled(2000));
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)[2], 'g');
  WaitForWindow([](const json& w) { return w["remoteDevices"] == json::array({"alpha"}); });

  // Get Public IP sends its request, and the answer is shown.
  const auto stunServer = PcSocket({kLoopback, 3478});
  ASSERT_EQ(halvyn_->Command("get-public-ip", {{"stunServer", "127.0.0.1"}}), 200);
  ASSERT_TRUE(stunServer->WaitReadable(Scaled(2000))) << "no Binding Request";
  ASSERT_NO_FATAL_FAILURE(ExpectStunAnswerTaken(NetworkAddress(198, 51, 100, 9), "198.51.100.9"));
  window = halvyn_->Window();
  EXPECT_EQ(window["messageBoxes"], json::array());
  EXPECT_EQ(window["lanDevices"], json::array());
}

TEST_F(LanFaultTest, TakenDiscoveryPortShowsMulticastBindFailed) {
  StartDevsim(AddDevice(1), {});
  // Another program holds 9887 without SO_REUSEADDR: halvyn's bind is refused.
  const auto holder = PcSocket({0, kDiscoveryPort});
  StartHalvyn();
  WaitForWindow(
      [](const json& w) { return w["messageBoxes"] == json::array({"Multicast bind failed:98"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(600)));
  const json window = halvyn_->Window();
  EXPECT_EQ(window["lanDevices"], json::array());
  EXPECT_EQ(window["messageBoxes"], json::array({"Multicast bind failed:98"}));
  ASSERT_NO_FATAL_FAILURE(ExpectStunAnswerTaken(NetworkAddress(198, 51, 100, 4), "198.51.100.4"));
}

// --- The selected device cannot be reached ----------------------------------

enum class Unreachable { kGone, kPortClosed };

class LanUnreachableDeviceTest : public LanFaultTest,
                                 public ::testing::WithParamInterface<Unreachable> {};

// ICMP destination-unreachable messages the namespace has received.
long IcmpUnreachablesReceived(rig::NetworkRig& rig, const std::string& host) {
  const rig::CommandResult snmp = rig.Exec(host, {"cat", "/proc/net/snmp"});
  std::istringstream lines(snmp.output);
  std::string names, values;
  while (std::getline(lines, names)) {
    if (names.rfind("Icmp: ", 0) != 0 || !std::getline(lines, values)) continue;
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value)
      if (name == "InDestUnreachs") return std::stol(value);
  }
  return -1;
}

TEST_P(LanUnreachableDeviceTest, SelectionAndRoutesProceedAndTheConsoleStaysResponsive) {
  const std::string host = AddDevice(1);
  RigProcess& device = StartDevsim(host, {"--id", "DEV-1", "--name", "Stage Left"});
  StartHalvyn({"--start"});
  WaitForDeviceRows(1);
  device.Terminate();
  if (GetParam() == Unreachable::kGone) {
    // Its adapter is down too: nothing answers the PC's ARP.
    const rig::CommandResult down = rig_->Exec(host, {"ip", "link", "set", "eth0", "down"});
    ASSERT_EQ(down.exitCode, 0) << down.output;
  }
  const long unreachablesBefore = IcmpUnreachablesReceived(*rig_, pc_);

  // Selected and marked all the same, twice over.
  for (int i = 0; i < 2; ++i) {
    json window;
    ASSERT_EQ(halvyn_->Command("select-device", nullptr, &window, 0), 200);
    EXPECT_EQ(window["lanDevices"][0][5], "O");
  }
  // A route is granted and activated; its writes go nowhere.
  RemoteClient& far = StartFarClient();
  far.Command("login");
  WaitForWindow([](const json& w) { return w["remoteDevices"] == json::array({"far"}); });
  far.Command(kRouteCommand);
  EXPECT_NE(far.WaitForLine("recv u slot_port=14367 ", 1, Scaled(5000)), "") << far.Output();
  EXPECT_NE(far.WaitForLine("recv v slot_port=14367 ", 1, Scaled(5000)), "") << far.Output();
  far.Command("probe 14367");
  WaitForWindow([](const json& w) { return w["forwardRoutes"].size() == 1; });
  if (GetParam() == Unreachable::kPortClosed) {
    EXPECT_GT(IcmpUnreachablesReceived(*rig_, pc_), unreachablesBefore)
        << "the device's host never refused a datagram";
  }

  // Idle, it does not spin on the errors.
  const std::optional<long> cpuBefore = CpuMilliseconds(halvyn_->pid());
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const std::optional<long> cpuAfter = CpuMilliseconds(halvyn_->pid());
  ASSERT_TRUE(cpuBefore && cpuAfter);
  EXPECT_LT(*cpuAfter - *cpuBefore, Scaled(300)) << "CPU milliseconds in 3 s of idling";

  if (GetParam() == Unreachable::kGone) {
    const rig::CommandResult neighbour = rig_->Exec(pc_, {"ip", "neigh", "show", DeviceAddress(1)});
    EXPECT_EQ(neighbour.output.find("lladdr"), std::string::npos)
        << "the device's address was resolved: " << neighbour.output;
  }

  // The device socket, also the STUN socket, still reads its answers.
  ASSERT_NO_FATAL_FAILURE(ExpectStunAnswerTaken(NetworkAddress(198, 51, 100, 3), "198.51.100.3"));
  const json window = halvyn_->Window();
  EXPECT_EQ(window["lanDevices"][0][5], "O");
  EXPECT_EQ(window["messageBoxes"], json::array());
  EXPECT_EQ(window["startStop"], "Stop");
}

INSTANTIATE_TEST_SUITE_P(GoneAndPortClosed, LanUnreachableDeviceTest,
                         ::testing::Values(Unreachable::kGone, Unreachable::kPortClosed),
                         [](const ::testing::TestParamInfo<Unreachable>& info) {
                           return std::string(info.param == Unreachable::kGone ? "DeviceGone"
                                                                               : "PortClosed");
                         });

// --- SIGTERM while a route is being programmed -------------------------------

enum class Moment {
  kSelectionSetUp,     // after the set-up datagram of a selection
  kSelectionClearing,  // half-way through the sixteen clearing writes
  kRouteReceiveBlock,  // between a route's two register writes
  kRouteListening,     // the route's listener waits for its probe
  kRouteProbe,         // the probe's transmit template has just been written
};

struct SigtermCase {
  const char* name;
  Moment moment;
};

class LanSigtermTest : public LanFaultTest, public ::testing::WithParamInterface<SigtermCase> {};

TEST_P(LanSigtermTest, EndsWithStatusZeroInTimeAndLeavesNoThreadBehind) {
  const Moment moment = GetParam().moment;
  RigProcess& device = StartDevsim(AddDevice(1), {"--id", "DEV-1", "--name", "Router"});
  StartHalvyn({"--start"});
  WaitForDeviceRows(1);
  WaitForWindow([](const json& w) { return w["startStop"] == "Stop"; });

  // The selection's request stays open while the window thread writes; it
  // may or may not be answered before the process ends.
  std::thread selecting([&] { halvyn_->Command("select-device", nullptr, nullptr, 0); });
  size_t signalAfter = 1;
  if (moment == Moment::kSelectionClearing) signalAfter = 9;
  if (moment >= Moment::kRouteReceiveBlock) {
    selecting.join();
    ASSERT_EQ(WaitForReceived(device, kSelectionDatagrams).size(), size_t(kSelectionDatagrams));
    RemoteClient& far = StartFarClient();
    far.Command(kRouteCommand);
    signalAfter = kSelectionDatagrams + 1;
    if (moment >= Moment::kRouteListening) {
      ASSERT_NE(far.WaitForLine("recv v slot_port=14367 ", 1, Scaled(5000)), "") << far.Output();
      signalAfter = kSelectionDatagrams + 2;
    }
    if (moment == Moment::kRouteProbe) {
      far.Command("probe 14367");
      signalAfter = kSelectionDatagrams + 3;  // the transmit template
    }
  }
  // Wait closely for the device to have received that much, then signal.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Scaled(5000));
  while (ReceivedLines(device).size() < signalAfter && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const size_t receivedAtSignal = ReceivedLines(device).size();
  const auto start = std::chrono::steady_clock::now();
  halvyn_->Signal(SIGTERM);
  const std::optional<int> status = halvyn_->WaitForExit(std::chrono::seconds(10));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  if (selecting.joinable()) selecting.join();

  ASSERT_TRUE(status) << "still running after 10 s";
  EXPECT_EQ(*status, 0) << halvyn_->Stderr();
  EXPECT_LE(took.count(), Scaled(2000));
  // The sanitizer builds report leaked memory and threads on stderr.
  EXPECT_EQ(halvyn_->Stderr().find("Sanitizer"), std::string::npos) << halvyn_->Stderr();
  RecordProperty("deviceDatagramsAtSignal", int(receivedAtSignal));
  RecordProperty("deviceDatagramsAtExit", int(ReceivedLines(device).size()));
}

INSTANTIATE_TEST_SUITE_P(
    PointsOfTheSequence, LanSigtermTest,
    ::testing::Values(SigtermCase{"SelectionSetUp", Moment::kSelectionSetUp},
                      SigtermCase{"SelectionClearing", Moment::kSelectionClearing},
                      SigtermCase{"RouteReceiveBlock", Moment::kRouteReceiveBlock},
                      SigtermCase{"RouteListening", Moment::kRouteListening},
                      SigtermCase{"RouteProbe", Moment::kRouteProbe}),
    [](const ::testing::TestParamInfo<SigtermCase>& info) { return info.param.name; });

}  // namespace
}  // namespace halvyn::testing
