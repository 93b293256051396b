// The Wireshark dissector (tools/wireshark/halvyn.lua) against a real run:
// tshark captures, on this test's own loopback, halvyn with a simulated LAN
// device and two clients going through logins, the lists, a connect request,
// a route's grant, probe and release, and a stray datagram; then tshark reads
// the capture through the dissector, and every packet on Halvyn's ports must
// be named and its key fields decoded as they were sent.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "routes/route_info.h"
#include "tests/rig/rig_process.h"
#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"
#include "tests/support/test_client.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;
using rig::CommandResult;
using rig::RigProcess;
using rig::RunCommand;

constexpr uint16_t kRelayPort = 7002;
constexpr uint16_t kFirstSlotPort = 14367;
// Datagrams to the discard port that tell when the capture runs and when it
// has seen everything; their lengths are those of no Halvyn datagram.
constexpr uint16_t kMarkerPort = 9;
constexpr size_t kStartMarkerLength = 17;
constexpr size_t kEndMarkerLength = 19;

// The fields read back, in -e order; a frame's values by field name.
const std::vector<std::string> kFields = {"frame.number",
                                          "udp.srcport",
                                          "udp.dstport",
                                          "_ws.col.Protocol",
                                          "_ws.col.Info",
                                          "_ws.malformed",
                                          "halvyn.command",
                                          "halvyn.count",
                                          "halvyn.list.records",
                                          "halvyn.record.name",
                                          "halvyn.record.ip",
                                          "halvyn.record.port",
                                          "halvyn.record.p2p_ip",
                                          "halvyn.record.p2p_port",
                                          "halvyn.target",
                                          "halvyn.route.slot_port",
                                          "halvyn.route.slot",
                                          "halvyn.route.tx_param",
                                          "halvyn.route.tx_ip",
                                          "halvyn.route.tx_port",
                                          "halvyn.route.tx_chan_count",
                                          "halvyn.route.tx_chan",
                                          "halvyn.route.rx_ip",
                                          "halvyn.route.rx_port",
                                          "halvyn.route.tx_name",
                                          "halvyn.route.rx_name",
                                          "halvyn_dev.kind",
                                          "halvyn_dev.register",
                                          "halvyn_dev.length",
                                          "halvyn_dev.block",
                                          "halvyn_dev.slot",
                                          "halvyn_dev.slot_port",
                                          "halvyn_dev.channel",
                                          "halvyn_dev.chan_count",
                                          "halvyn_dev.tx_param",
                                          "halvyn_dev.tx_ip",
                                          "halvyn_dev.eth_src",
                                          "halvyn_dev.ip_dst",
                                          "halvyn_dev.udp_src",
                                          "halvyn_dev.udp_dst",
                                          "halvyn_dev.setup.register",
                                          "halvyn_dev.setup.pc_ip",
                                          "halvyn_ann.mac",
                                          "halvyn_ann.version",
                                          "halvyn_ann.id",
                                          "halvyn_ann.name"};

using Frame = std::map<std::string, std::string>;

std::vector<Frame> ParseFields(const std::string& text) {
  std::vector<Frame> frames;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> values;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      values.push_back(line.substr(start, tab - start));
    values.push_back(line.substr(start));
    if (values.size() != kFields.size()) continue;
    Frame frame;
    for (size_t i = 0; i < kFields.size(); ++i) frame[kFields[i]] = values[i];
    frames.push_back(std::move(frame));
  }
  return frames;
}

bool OnPort(const Frame& frame, uint16_t port) {
  const std::string text = std::to_string(port);
  return frame.at("udp.srcport") == text || frame.at("udp.dstport") == text;
}

bool OnPortRange(const Frame& frame, uint16_t first, uint16_t last) {
  for (const char* key : {"udp.srcport", "udp.dstport"}) {
    const int port = std::atoi(frame.at(key).c_str());
    if (port >= first && port <= last) return true;
  }
  return false;
}

class DissectorCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETWORK();
    char pattern[] = "/tmp/halvyn-capture-XXXXXX";
    directory_ = mkdtemp(pattern);
    const CommandResult version = RunCommand({"tshark", "--version"}, 30000);
    ASSERT_EQ(version.exitCode, 0)
        << "tshark is missing (scripts/install-deps.sh test installs it)";
  }
  void TearDown() override {
    std::error_code ignored;
    if (!directory_.empty() && !HasFailure()) std::filesystem::remove_all(directory_, ignored);
  }

  std::string File(const std::string& name) const { return (directory_ / name).string(); }

  // Reads the capture through the dissector: one Frame per packet.
  std::vector<Frame> Dissect() {
    std::string command = "tshark -r '" + File("capture.pcapng") +
                          "' -X lua_script:" HALVYN_LUA
                          " -T fields -E separator=/t -E occurrence=a -E aggregator='|'";
    for (const std::string& field : kFields) command += " -e " + field;
    command += " >'" + File("fields.tsv") + "' 2>'" + File("tshark-read.txt") + "'";
    const CommandResult read = RunCommand({"sh", "-c", command}, 60000);
    EXPECT_EQ(read.exitCode, 0) << ReadText("tshark-read.txt");
    EXPECT_EQ(ReadText("tshark-read.txt").find("Lua"), std::string::npos)
        << ReadText("tshark-read.txt");
    return ParseFields(ReadText("fields.tsv"));
  }

  std::string ReadText(const std::string& name) const {
    std::ifstream file(File(name));
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }

  std::filesystem::path directory_;
};

// Reads one datagram and checks its letter.
void Expect(TestClient& client, char letter) {
  const auto datagram = client.Receive();
  ASSERT_TRUE(datagram) << "no '" << letter << "'";
  ASSERT_GE(datagram->size(), 3u);
  ASSERT_EQ(char((*datagram)[2]), letter);
}

std::vector<uint8_t> RoutePacket(uint8_t letter, const CRouteInfo& route) {
  std::vector<uint8_t> packet(relay_packet::kRouteFormSize, 0);
  relay_packet::WriteHeader(std::span(packet).first<relay_packet::kHeaderSize>(), letter, 0);
  route.WriteTo(std::span<uint8_t, route_info::kSize>(packet.data() + relay_packet::kRecordFormSize,
                                                      route_info::kSize));
  return packet;
}

TEST_F(DissectorCapture, NamesEveryPacketAndDecodesItsKeyFields) {
  // -P -l: a summary line per packet as it is written, so the test knows when
  // the capture sees its traffic (markers of lengths no other packet has).
  RigProcess tshark({"tshark", "-i", "lo", "-f", "udp", "-w", File("capture.pcapng"), "-P", "-l",
                     "-a", "duration:90"},
                    File("tshark.txt"));
  UdpSocket marker;
  ASSERT_EQ(marker.Bind({NetworkAddress(127, 0, 0, 1), 0}), 0);
  auto mark = [&](size_t length) {
    const std::string seen = "Len=" + std::to_string(length);
    for (int i = 0; i < 100; ++i) {  // 20 s at most
      marker.SendTo(std::vector<uint8_t>(length, 0), {NetworkAddress(127, 0, 0, 1), kMarkerPort});
      if (tshark.WaitForOutput(seen, 200)) return true;
    }
    return false;
  };
  ASSERT_TRUE(mark(kStartMarkerLength)) << tshark.Output();
  RigProcess devsim(
      {HALVYN_DEVSIM, "--interval-ms", "300", "--id", "DEV-7", "--name", "Stage Left", "--mac",
       "02:aa:bb:cc:dd:07", "--fpga-version", "1a05", "--interface", "127.0.0.1", "--quiet"},
      File("devsim.txt"));
  ASSERT_TRUE(devsim.WaitForOutput("listening", 5000)) << devsim.Output();

  uint16_t alphaPort = 0, betaPort = 0;
  {
    HalvynProcess halvyn({"--start"});
    ASSERT_TRUE(halvyn.WaitUntilReady());
    ASSERT_TRUE(halvyn.WaitForWindow([](const json& w) { return w["lanDevices"].size() == 1; }));
    ASSERT_EQ(halvyn.Command("select-device", nullptr, nullptr, 0), 200);

    TestClient alpha(kRelayPort), beta(kRelayPort);
    alphaPort = alpha.endpoint().port;
    betaPort = beta.endpoint().port;
    alpha.Send('e', NamedRecord("alpha"));
    Expect(alpha, 'g');
    Expect(alpha, 'h');
    beta.Send('e', NamedRecord("beta"));
    Expect(beta, 'g');
    Expect(beta, 'h');
    Expect(alpha, 'h');

    ClientRecord info = NamedRecord("alpha");
    info.set_p2p_ip(NetworkAddress(10, 1, 2, 3));
    info.set_p2p_port(5000);
    alpha.Send('i', info);
    Expect(alpha, 'i');
    Expect(beta, 'i');
    beta.Send('k', NamedRecord("beta"));
    alpha.Send(ConnectRequest(NamedRecord("alpha"), "beta"));
    Expect(beta, 'p');

    CRouteInfo route;
    route.set_tx_param(0x1234);
    route.set_tx_ip(NetworkAddress(127, 0, 0, 1));
    route.set_tx_port(alphaPort);
    route.set_tx_chan_count(2);
    route.set_rx_ip(NetworkAddress(127, 0, 0, 1));
    route.set_rx_port(betaPort);
    route.set_rx_chan_count(2);
    route.set_tx_name("alpha");
    route.set_rx_name("beta");
    alpha.Send(RoutePacket('r', route));
    Expect(alpha, 'u');
    Expect(beta, 'v');

    // The Rx device's probe to the slot port, from a port of its own.
    UdpSocket probe;
    ASSERT_EQ(probe.Bind({NetworkAddress(127, 0, 0, 1), 0}), 0);
    std::vector<uint8_t> w(relay_packet::kRecordFormSize, 0);
    w[relay_packet::kCommandOffset] = 'w';
    ASSERT_TRUE(probe.SendTo(w, {NetworkAddress(127, 0, 0, 1), kFirstSlotPort}));
    ASSERT_TRUE(halvyn.WaitForWindow([](const json& w) { return !w["forwardRoutes"].empty(); }))
        << "the route never became active";

    std::vector<uint8_t> release(relay_packet::kRouteFormSize, 0);
    relay_packet::WriteHeader(std::span(release).first<relay_packet::kHeaderSize>(), 'x', 0);
    StoreLe16(&release[relay_packet::kRecordFormSize], kFirstSlotPort);
    alpha.Send(release);
    Expect(alpha, 't');
    Expect(beta, 's');
    ASSERT_TRUE(halvyn.WaitForWindow([](const json& w) { return w["forwardRoutes"].empty(); }));

    alpha.Send(std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});  // not a relay packet
    alpha.Send('f', NamedRecord("alpha"));
    Expect(beta, 'h');
    halvyn.Signal(SIGTERM);
    ASSERT_EQ(halvyn.WaitForExit(std::chrono::seconds(10)), 0);
  }
  devsim.Terminate();
  ASSERT_TRUE(mark(kEndMarkerLength)) << tshark.Output();
  ASSERT_TRUE(tshark.Signal(SIGINT));
  ASSERT_EQ(tshark.Wait(20000), 0) << tshark.Output();

  const std::vector<Frame> frames = Dissect();
  ASSERT_GT(frames.size(), 40u) << ReadText("fields.tsv");
  auto where = [&](const std::function<bool(const Frame&)>& match) {
    std::vector<Frame> found;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(found), match);
    return found;
  };
  // The one packet of a protocol with field = value sent to dstPort; more
  // conditions as extra field/value pairs.
  auto one = [&](const std::string& protocol, const Frame& match, uint16_t dstPort) {
    const auto found = where([&](const Frame& f) {
      if (f.at("_ws.col.Protocol") != protocol || f.at("udp.dstport") != std::to_string(dstPort))
        return false;
      for (const auto& [field, value] : match)
        if (f.at(field) != value) return false;
      return true;
    });
    std::string what;
    for (const auto& [field, value] : match) what += " " + field + "=" + value;
    EXPECT_EQ(found.size(), 1u) << protocol << what << " to " << dstPort;
    return found.empty() ? Frame{} : found.front();
  };
  const std::string alpha = std::to_string(alphaPort), beta = std::to_string(betaPort);

  // Every packet on Halvyn's ports is named by the dissector, and none is malformed.
  for (const Frame& frame : frames) {
    std::string expected;
    if (OnPort(frame, kRelayPort) || OnPortRange(frame, kFirstSlotPort, kFirstSlotPort + 31))
      expected = "HALVYN";
    else if (OnPort(frame, 4440))
      expected = "HALVYN-DEV";
    else if (OnPort(frame, 9887))
      expected = "HALVYN-ANN";
    else
      continue;
    EXPECT_EQ(frame.at("_ws.col.Protocol"), expected) << "frame " << frame.at("frame.number");
    if (frame.at("_ws.col.Info") != "Not a relay packet (5 bytes)") {
      EXPECT_EQ(frame.at("_ws.malformed"), "") << "frame " << frame.at("frame.number");
    }
  }

  // Announcements.
  const auto announcements =
      where([](const Frame& f) { return f.at("_ws.col.Protocol") == "HALVYN-ANN"; });
  ASSERT_FALSE(announcements.empty());
  for (const Frame& f : announcements) {
    EXPECT_EQ(f.at("halvyn_ann.name"), "Stage Left");
    EXPECT_EQ(f.at("halvyn_ann.id"), "DEV-7");
    EXPECT_EQ(f.at("halvyn_ann.mac"), "02:aa:bb:cc:dd:07");
    EXPECT_EQ(f.at("halvyn_ann.version"), "1:05");
  }

  // Device selection: the set-up datagram, then the sixteen clearing writes.
  const Frame setup = one("HALVYN-DEV", {{"halvyn_dev.kind", "Set-up"}}, 4440);
  EXPECT_EQ(setup.at("halvyn_dev.setup.register"),
            "0x0006|0x0022|0x0023|0x001a|0x001b|0x001c|0x001d|0x001e");
  EXPECT_EQ(setup.at("halvyn_dev.setup.pc_ip"), "0.0.0.0");  // loopback is not an Ethernet adapter
  const auto clears = where(
      [](const Frame& f) { return f.at("halvyn_dev.block") == "Transmit templates cleared"; });
  ASSERT_EQ(clears.size(), 16u);
  for (size_t i = 0; i < clears.size(); ++i) {
    EXPECT_EQ(clears[i].at("halvyn_dev.register"), std::to_string(1024 + 64 * i));
    EXPECT_EQ(clears[i].at("halvyn_dev.length"), "128");
  }

  // Logins, the lists, the info broadcast, keep-alive, connect.
  EXPECT_EQ(one("HALVYN", {{"halvyn.command", "0x65"}, {"udp.srcport", alpha}}, kRelayPort)
                .at("halvyn.record.name"),
            "alpha");
  const Frame accepted = one("HALVYN", {{"halvyn.command", "0x67"}}, alphaPort);
  EXPECT_EQ(accepted.at("halvyn.record.name"), "alpha");
  EXPECT_EQ(accepted.at("halvyn.record.ip"), "127.0.0.1");
  EXPECT_EQ(accepted.at("halvyn.record.port"), alpha);
  const auto lists = where([&](const Frame& f) {
    return f.at("halvyn.command") == "0x68" && f.at("udp.dstport") == beta;
  });
  ASSERT_EQ(lists.size(), 2u);  // after beta's login, after alpha's logout
  EXPECT_EQ(lists[0].at("halvyn.list.records"), "2");
  EXPECT_EQ(lists[0].at("halvyn.count"), "2");
  EXPECT_EQ(lists[0].at("halvyn.record.name"), "alpha|beta");
  EXPECT_EQ(lists[0].at("halvyn.record.port"), alpha + "|" + beta);
  EXPECT_EQ(lists[1].at("halvyn.record.name"), "beta");
  const Frame infoToBeta = one("HALVYN", {{"halvyn.command", "0x69"}}, betaPort);
  EXPECT_EQ(infoToBeta.at("halvyn.record.p2p_ip"), "10.1.2.3");
  EXPECT_EQ(infoToBeta.at("halvyn.record.p2p_port"), "5000");
  EXPECT_EQ(one("HALVYN", {{"halvyn.command", "0x6b"}}, kRelayPort).at("halvyn.record.name"),
            "beta");
  EXPECT_EQ(one("HALVYN", {{"halvyn.command", "0x70"}}, kRelayPort).at("halvyn.target"), "beta");

  // The route: request, replies, device blocks, probe, template, release.
  const Frame request = one("HALVYN", {{"halvyn.command", "0x72"}}, kRelayPort);
  EXPECT_EQ(request.at("halvyn.route.tx_name"), "alpha");
  EXPECT_EQ(request.at("halvyn.route.rx_name"), "beta");
  EXPECT_EQ(request.at("halvyn.route.tx_port"), alpha);
  EXPECT_EQ(request.at("halvyn.route.rx_port"), beta);
  EXPECT_EQ(request.at("halvyn.route.tx_chan_count"), "2");
  EXPECT_EQ(request.at("halvyn.route.tx_param"), "0x1234");
  const Frame u = one("HALVYN", {{"halvyn.command", "0x75"}}, alphaPort);
  EXPECT_EQ(u.at("halvyn.route.slot_port"), "14367");
  EXPECT_EQ(u.at("halvyn.route.rx_port"), "14367");
  EXPECT_EQ(u.at("halvyn.route.tx_port"), alpha);
  const Frame v = one("HALVYN", {{"halvyn.command", "0x76"}}, betaPort);
  EXPECT_EQ(v.at("halvyn.route.slot_port"), "14367");
  EXPECT_EQ(v.at("halvyn.route.tx_port"), "14367");
  EXPECT_EQ(v.at("halvyn.route.rx_port"), beta);

  const Frame receive = one("HALVYN-DEV",
                            {{"halvyn_dev.register", "2048"},
                             {"halvyn_dev.length", "24"},
                             {"halvyn_dev.slot_port", "14367"}},
                            4440);
  EXPECT_EQ(receive.at("halvyn_dev.block"), "Receive block");
  EXPECT_EQ(receive.at("halvyn_dev.channel"), "1|2");
  EXPECT_EQ(receive.at("halvyn_dev.tx_param"), "0x1234");
  const Frame summary = one("HALVYN-DEV",
                            {{"halvyn_dev.register", "2064"},
                             {"halvyn_dev.length", "12"},
                             {"halvyn_dev.slot_port", "14367"}},
                            4440);
  EXPECT_EQ(summary.at("halvyn_dev.block"), "Route summary block");
  EXPECT_EQ(summary.at("halvyn_dev.chan_count"), "2");
  EXPECT_EQ(summary.at("halvyn_dev.tx_ip"), "127.0.0.1");

  const Frame probeFrame = one("HALVYN", {{"halvyn.command", "0x77"}}, kFirstSlotPort);
  EXPECT_EQ(probeFrame.at("halvyn.route.slot"), "0");
  const auto templates =
      where([](const Frame& f) { return f.at("halvyn_dev.block") == "Transmit template"; });
  ASSERT_EQ(templates.size(), 2u);  // written at the probe, zeroed at the release
  const Frame& written = templates[0];
  EXPECT_EQ(written.at("halvyn_dev.slot"), "0");
  EXPECT_EQ(written.at("halvyn_dev.eth_src"), "02:aa:bb:cc:dd:07");
  EXPECT_EQ(written.at("halvyn_dev.ip_dst"), "127.0.0.1");
  EXPECT_EQ(written.at("halvyn_dev.udp_src"), "14367");
  EXPECT_EQ(written.at("halvyn_dev.udp_dst"), probeFrame.at("udp.srcport"));
  EXPECT_EQ(written.at("halvyn_dev.channel"), "1|2");
  EXPECT_EQ(templates[1].at("halvyn_dev.channel"), "");

  EXPECT_EQ(one("HALVYN", {{"halvyn.command", "0x78"}}, kRelayPort).at("halvyn.route.slot_port"),
            "14367");
  EXPECT_EQ(one("HALVYN", {{"halvyn.command", "0x74"}}, alphaPort).at("halvyn.route.tx_chan"),
            "1|2");
  EXPECT_EQ(one("HALVYN", {{"halvyn.command", "0x73"}}, betaPort).at("halvyn.route.tx_chan"),
            "1|2");

  const auto stray =
      where([](const Frame& f) { return f.at("_ws.col.Info") == "Not a relay packet (5 bytes)"; });
  EXPECT_EQ(stray.size(), 1u);
}

}  // namespace
}  // namespace halvyn::testing
