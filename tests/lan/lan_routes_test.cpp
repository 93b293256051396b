// Forward routes end to end: the real halvyn on the PC, a halvyn-devsim device
// on the LAN, and halvyn-client remote devices on the far side of the gateway.
//
//   LAN       gw 10.200.0.1, pc 10.200.0.10 (halvyn --start), dev1 10.200.0.101,
//             dev2 10.200.0.102
//   "internet" (routed by gw, on the same switch):
//             alpha 10.51.100.7 (clients bound to port 5000, 7000)
//             beta  10.113.0.9  (clients bound to port 6000, 6100)
//
// The device's lines show every register write it received; the clients'
// lines every relay datagram.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <thread>

#include "tests/lan/lan_test_fixture.h"
#include "tests/lan/remote_client.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;
using rig::RigProcess;

constexpr char kServer[] = "10.200.0.10:7002";
constexpr char kRelaySource[] = "src=10.200.0.10:7002";
constexpr char kDeviceSource[] = "10.200.0.10:19002";
constexpr char kDeviceMac[] = "02:aa:bb:cc:dd:01";
constexpr char kSecondDeviceMac[] = "02:aa:bb:cc:dd:02";

std::string WriteLine(unsigned registerAddress, const std::string& dataHex) {
  char head[96];
  std::snprintf(head, sizeof head, "rx %s write register=0x%04X length=%zu data=", kDeviceSource,
                registerAddress, dataHex.size() / 2);
  return head + dataHex;
}

class LanRouteTest : public LanTest {
 protected:
  void SetUp() override {
    LanTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The gateway routes between the LAN and two far networks on the same switch.
    rig_->AddAddress(gateway_, "eth0", "10.51.100.1/24");
    rig_->AddAddress(gateway_, "eth0", "10.113.0.1/24");
    for (const char* setting : {"net.ipv4.ip_forward=1", "net.ipv4.conf.all.send_redirects=0",
                                "net.ipv4.conf.eth0.send_redirects=0"}) {
      const rig::CommandResult set = rig_->Exec(gateway_, {"sysctl", "-qw", setting});
      ASSERT_EQ(set.exitCode, 0) << set.output;
    }
    alpha_ = rig_->AddHost("alpha");
    rig_->AddAdapter(alpha_, "eth0", "10.51.100.7/24");
    rig_->AddDefaultRoute(alpha_, "10.51.100.1", "eth0");
    beta_ = rig_->AddHost("beta");
    rig_->AddAdapter(beta_, "eth0", "10.113.0.9/24");
    rig_->AddDefaultRoute(beta_, "10.113.0.1", "eth0");
    ASSERT_TRUE(rig_->ok()) << rig_->error();
    gatewayMac_ = MacOf(gateway_);

    device_ =
        &StartDevsim(AddDevice(1), {"--id", "DEV-1", "--name", "Router", "--mac", kDeviceMac});
    StartHalvyn({"--start"});
    WaitForWindow([](const json& w) { return w["startStop"] == "Stop"; });
    WaitForDeviceRows(1);
    ASSERT_EQ(halvyn_->Command("select-device", nullptr, nullptr, 0), 200);
    ASSERT_EQ(WaitForReceived(*device_, 17).size(), 17u) << device_->Output();
  }

  void TearDown() override {
    clients_.clear();
    LanTest::TearDown();
  }

  // A remote device named name in host, its socket bound to port.
  RemoteClient& StartClient(const std::string& host, const std::string& name, int port) {
    clients_.push_back(std::make_unique<RemoteClient>(
        *rig_, host,
        std::vector<std::string>{"--server", kServer, "--bind", "0.0.0.0:" + std::to_string(port),
                                 "--name", name, "--keepalive-interval", "5000"}));
    return *clients_.back();
  }

  // alpha (10.51.100.7:5000) and beta (10.113.0.9:6000), both logged in.
  void LogInAlphaAndBeta() {
    alpha = &StartClient(alpha_, "alpha", 5000);
    beta = &StartClient(beta_, "beta", 6000);
    alpha->Command("login");
    beta->Command("login");
    WaitForWindow([](const json& w) { return w["remoteDevices"].size() == 2; });
  }

  // What device `devsim` received after the selection's seventeen datagrams,
  // once there are at least count of them.
  std::vector<std::string> DeviceWritesAfterSelection(RigProcess& devsim, size_t count) {
    std::vector<std::string> lines = WaitForReceived(devsim, 17 + count);
    if (lines.size() < 17) return {};
    return {lines.begin() + 17, lines.end()};
  }

  // Waits a moment and checks that nothing more reached the device.
  void ExpectNoMoreDeviceWrites(RigProcess& devsim, size_t count) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(400)));
    EXPECT_EQ(ReceivedLines(devsim).size(), 17 + count) << devsim.Output();
  }

  std::string alpha_, beta_;
  std::string gatewayMac_;
  RigProcess* device_ = nullptr;
  RemoteClient* alpha = nullptr;
  RemoteClient* beta = nullptr;
  std::vector<std::unique_ptr<RemoteClient>> clients_;
};

TEST_F(LanRouteTest, WholeRouteLifeFromRequestToRelease) {
  LogInAlphaAndBeta();
  // Two one-channel routes first take slots 0 and 1 and channels 1 and 2.
  RemoteClient& filler = StartClient(alpha_, "filler", 7000);
  filler.Command("route filler 10.51.100.7:7000 1 filler 10.51.100.7:7000 1");
  filler.Command("route filler 10.51.100.7:7000 1 filler 10.51.100.7:7000 1");
  ASSERT_EQ(filler.WaitForLines("recv v ", 2, Scaled(5000)).size(), 2u) << filler.Output();
  ASSERT_EQ(DeviceWritesAfterSelection(*device_, 4).size(), 4u);

  // The request: slot 2 (port 14369), channels 3 and 4.
  alpha->Command("route alpha 10.51.100.7:5000 2 beta 10.113.0.9:6000 2 0x1234");
  EXPECT_EQ(alpha->WaitForLine("recv u ", 1, Scaled(5000)),
            "recv u slot_port=14369 tx_name=alpha tx=10.51.100.7:5000 tx_chan_count=2 "
            "rx_name=beta rx=10.113.0.9:14369 rx_chan_count=2 tx_param=4660 size=228 " +
                std::string(kRelaySource));
  EXPECT_EQ(beta->WaitForLine("recv v ", 1, Scaled(5000)),
            "recv v slot_port=14369 tx_name=alpha tx=10.51.100.7:14369 tx_chan_count=2 "
            "rx_name=beta rx=10.113.0.9:6000 rx_chan_count=2 tx_param=4660 size=228 " +
                std::string(kRelaySource));
  // The receive block and the route summary block of slot 2.
  std::vector<std::string> writes = DeviceWritesAfterSelection(*device_, 6);
  ASSERT_EQ(writes.size(), 6u) << device_->Output();
  EXPECT_EQ(writes[4], WriteLine(0x0840,
                                 "0000"
                                 "0065"
                                 "0000"
                                 "3821"
                                 "c3c2000000000000"
                                 "6730"
                                 "00000000"
                                 "1234"));
  EXPECT_EQ(writes[5], WriteLine(0x0850,
                                 "0202"
                                 "2138"
                                 "0ac80065"
                                 "0a336407"));
  EXPECT_EQ(halvyn_->Window()["forwardRoutes"], json::array());

  // beta's probe: the transmit template, from the device's MAC to the
  // gateway's, from the device's address and the slot port to beta.
  beta->Command("probe 14369");
  writes = DeviceWritesAfterSelection(*device_, 7);
  ASSERT_EQ(writes.size(), 7u) << device_->Output();
  EXPECT_EQ(writes[6], WriteLine(0x0440,
                                 "c3c2000000000000"
                                 "6167"
                                 "000000000000" +
                                     HexDigits(gatewayMac_) + HexDigits(kDeviceMac) +
                                     "0800"
                                     "45b8"
                                     "0148"
                                     "0201"
                                     "4000"
                                     "8011"
                                     "0000"
                                     "0ac80065"
                                     "0a710009"
                                     "3821"
                                     "1770"
                                     "0134"
                                     "ffff"
                                     "0002"
                                     "0100"
                                     "0000"));
  const json window = WaitForWindow([](const json& w) { return w["forwardRoutes"].size() == 1; });
  EXPECT_EQ(window["forwardRoutes"],
            json::array({json::array(
                {"3", "alpha", "10.51.100.7 : 5000", "beta", "10.113.0.9 : 6000", "3/4"})}));

  // Release: "t" to the Tx device and "s" to the Rx device with the record as
  // it stood, then the three blocks zeroed in order and the row gone.
  alpha->Command("release 14369");
  const std::string released =
      " tx_name=alpha tx=10.51.100.7:5000 tx_chan_count=2 tx_chans=3/4 rx_name=beta "
      "rx=10.113.0.9:6000 rx_chan_count=2 tx_param=4660 size=228 " +
      std::string(kRelaySource);
  EXPECT_EQ(alpha->WaitForLine("recv t ", 1, Scaled(5000)), "recv t" + released);
  EXPECT_EQ(beta->WaitForLine("recv s ", 1, Scaled(5000)), "recv s" + released);
  writes = DeviceWritesAfterSelection(*device_, 10);
  ASSERT_EQ(writes.size(), 10u) << device_->Output();
  EXPECT_EQ(writes[7], ZeroWriteLine(kDeviceSource, 0x0440, 64));
  EXPECT_EQ(writes[8], ZeroWriteLine(kDeviceSource, 0x0840, 24));
  EXPECT_EQ(writes[9], ZeroWriteLine(kDeviceSource, 0x0850, 12));
  WaitForWindow([](const json& w) { return w["forwardRoutes"].empty(); });
  // Nobody else heard of the release.
  EXPECT_TRUE(alpha->Lines("recv s ").empty());
  EXPECT_TRUE(beta->Lines("recv t ").empty());
  ExpectNoMoreDeviceWrites(*device_, 10);
}

TEST_F(LanRouteTest, RefusedRequestsAnswerSlotPortZeroAndWriteNothing) {
  RemoteClient& filler = StartClient(alpha_, "filler", 7000);
  const std::string oneChannel = "route filler 10.51.100.7:7000 1 filler 10.51.100.7:7000 1";
  // Slots 0..30 on channels 1..31.
  for (int i = 0; i < 31; ++i) filler.Command(oneChannel);
  const std::vector<std::string> granted = filler.WaitForLines("recv u ", 31, Scaled(10000));
  ASSERT_EQ(granted.size(), 31u) << filler.Output();
  for (int i = 0; i < 31; ++i)
    EXPECT_EQ(granted[i].rfind("recv u slot_port=" + std::to_string(14367 + i) + " ", 0), 0u)
        << granted[i];
  ASSERT_EQ(DeviceWritesAfterSelection(*device_, 62).size(), 62u);

  // Two channels with one free: refused though slot 31 is free.
  filler.Command("route filler 10.51.100.7:7000 2 filler 10.51.100.7:7000 2");
  EXPECT_EQ(filler.WaitForLine("recv u ", 32, Scaled(5000)).rfind("recv u slot_port=0 ", 0), 0u);
  EXPECT_EQ(filler.WaitForLine("recv v ", 32, Scaled(5000)).rfind("recv v slot_port=0 ", 0), 0u);
  // More than eight channels: refused.
  filler.Command("route filler 10.51.100.7:7000 9 filler 10.51.100.7:7000 9");
  EXPECT_EQ(filler.WaitForLine("recv u ", 33, Scaled(5000)).rfind("recv u slot_port=0 ", 0), 0u);
  // One channel: slot 31 on channel 32.
  filler.Command(oneChannel);
  EXPECT_EQ(filler.WaitForLine("recv u ", 34, Scaled(5000)).rfind("recv u slot_port=14398 ", 0),
            0u);
  std::vector<std::string> writes = DeviceWritesAfterSelection(*device_, 64);
  ASSERT_EQ(writes.size(), 64u);
  // Slot 31's receive block at 2048 + 32 * 31, with channel 32's entry (0xDF).
  EXPECT_EQ(writes[62], WriteLine(0x0BE0,
                                  "0000"
                                  "0065"
                                  "0000"
                                  "383e"
                                  "00df000000000000"
                                  "6730"
                                  "00000000"
                                  "0000"));
  // Every slot taken: refused.
  filler.Command(oneChannel);
  const std::string refused = filler.WaitForLine("recv v ", 35, Scaled(5000));
  EXPECT_EQ(refused.rfind("recv v slot_port=0 ", 0), 0u) << refused;

  // A release below the first slot port is ignored: no replies, no writes.
  filler.Command("release 14366");
  std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(400)));
  EXPECT_TRUE(filler.Lines("recv t ").empty()) << filler.Output();
  EXPECT_TRUE(filler.Lines("recv s ").empty()) << filler.Output();
  // One above the last names no slot either: it must touch no route and no register.
  filler.Command("release 14399");
  ExpectNoMoreDeviceWrites(*device_, 64);
  // Every slot is still taken.
  filler.Command(oneChannel);
  const std::string stillRefused = filler.WaitForLine("recv v ", 36, Scaled(5000));
  EXPECT_EQ(stillRefused.rfind("recv v slot_port=0 ", 0), 0u) << stillRefused;
  EXPECT_EQ(halvyn_->Window()["forwardRoutes"], json::array());
}

TEST_F(LanRouteTest, ProbesForSlotOneThenZeroGiveRowsInSlotOrder) {
  LogInAlphaAndBeta();
  alpha->Command("route alpha 10.51.100.7:5000 1 beta 10.113.0.9:6000 1");
  ASSERT_NE(beta->WaitForLine("recv v ", 1, Scaled(5000)), "");
  beta->Command("route beta 10.113.0.9:6000 2 alpha 10.51.100.7:5000 2");
  ASSERT_NE(alpha->WaitForLine("recv v ", 1, Scaled(5000)), "");
  ASSERT_EQ(DeviceWritesAfterSelection(*device_, 4).size(), 4u);

  // The Rx device of slot 1 probes first.
  alpha->Command("probe 14368");
  json window = WaitForWindow([](const json& w) { return w["forwardRoutes"].size() == 1; });
  EXPECT_EQ(window["forwardRoutes"],
            json::array({json::array(
                {"2", "beta", "10.113.0.9 : 6000", "alpha", "10.51.100.7 : 5000", "2/3"})}));

  // Slot 0's probe comes from another port of beta's host, as through a NAT:
  // the template goes to the learnt port, the row keeps the requested one.
  RemoteClient& natted = StartClient(beta_, "beta-probe", 6100);
  natted.Command("probe 14367");
  window = WaitForWindow([](const json& w) { return w["forwardRoutes"].size() == 2; });
  EXPECT_EQ(
      window["forwardRoutes"],
      json::array(
          {json::array({"1", "alpha", "10.51.100.7 : 5000", "beta", "10.113.0.9 : 6000", "1"}),
           json::array({"2", "beta", "10.113.0.9 : 6000", "alpha", "10.51.100.7 : 5000", "2/3"})}));

  const std::vector<std::string> writes = DeviceWritesAfterSelection(*device_, 6);
  ASSERT_EQ(writes.size(), 6u);
  // Slot 1's template (register 1056) before slot 0's (1024).
  const std::string slotOne =
      "rx " + std::string(kDeviceSource) + " write register=0x0420 length=64 data=";
  const std::string slotZero =
      "rx " + std::string(kDeviceSource) + " write register=0x0400 length=64 data=";
  ASSERT_EQ(writes[4].rfind(slotOne, 0), 0u) << writes[4];
  ASSERT_EQ(writes[5].rfind(slotZero, 0), 0u) << writes[5];
  // Template bytes 46..53: destination address, source port, destination port.
  EXPECT_EQ(writes[4].substr(slotOne.size() + 92, 16), "0a33640738201388");   // to alpha:5000
  EXPECT_EQ(writes[5].substr(slotZero.size() + 92, 16), "0a710009381f17d4");  // beta:6100
}

TEST_F(LanRouteTest, ProbeAfterReleaseWritesTheZeroTemplate) {
  LogInAlphaAndBeta();
  alpha->Command("route alpha 10.51.100.7:5000 2 beta 10.113.0.9:6000 2");
  ASSERT_NE(beta->WaitForLine("recv v ", 1, Scaled(5000)), "");
  alpha->Command("release 14367");
  ASSERT_NE(beta->WaitForLine("recv s ", 1, Scaled(5000)), "");
  // Receive and summary blocks, then the three zeroing writes.
  std::vector<std::string> writes = DeviceWritesAfterSelection(*device_, 5);
  ASSERT_EQ(writes.size(), 5u);
  EXPECT_EQ(writes[2], ZeroWriteLine(kDeviceSource, 0x0400, 64));

  // The slot's listener still waits; its probe writes a template built from
  // the zeroed record: no channels, destination 0.0.0.0.
  beta->Command("probe 14367");
  writes = DeviceWritesAfterSelection(*device_, 6);
  ASSERT_EQ(writes.size(), 6u) << device_->Output();
  EXPECT_EQ(writes[5], WriteLine(0x0400,
                                 "0000000000000000"
                                 "5f67"
                                 "000000000000" +
                                     HexDigits(gatewayMac_) + HexDigits(kDeviceMac) +
                                     "0800"
                                     "45b8"
                                     "0028"
                                     "0201"
                                     "4000"
                                     "8011"
                                     "0000"
                                     "0ac80065"
                                     "00000000"
                                     "381f"
                                     "1770"
                                     "0014"
                                     "ffff"
                                     "0000"
                                     "0100"
                                     "0000"));
  // The record names nobody, so no row.
  std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(300)));
  EXPECT_EQ(halvyn_->Window()["forwardRoutes"], json::array());
}

TEST_F(LanRouteTest, SelectingADeviceEmptiesTheRouteListAndFreesEverySlot) {
  RigProcess& second =
      StartDevsim(AddDevice(2), {"--id", "DEV-2", "--name", "Spare", "--mac", kSecondDeviceMac});
  WaitForDeviceRows(2);
  LogInAlphaAndBeta();
  // Slot 0 active with a row, slot 1 allocated.
  alpha->Command("route alpha 10.51.100.7:5000 2 beta 10.113.0.9:6000 2");
  ASSERT_NE(beta->WaitForLine("recv v ", 1, Scaled(5000)), "");
  beta->Command("probe 14367");
  WaitForWindow([](const json& w) { return w["forwardRoutes"].size() == 1; });
  alpha->Command("route alpha 10.51.100.7:5000 3 beta 10.113.0.9:6000 3");
  ASSERT_EQ(beta->WaitForLine("recv v ", 2, Scaled(5000)).rfind("recv v slot_port=14368 ", 0), 0u);
  ASSERT_EQ(DeviceWritesAfterSelection(*device_, 5).size(), 5u);

  json window = halvyn_->Window();
  int secondRow = -1;
  for (size_t i = 0; i < window["lanDevices"].size(); ++i)
    if (window["lanDevices"][i][3] == "10.200.0.102") secondRow = int(i);
  ASSERT_GE(secondRow, 0);
  ASSERT_EQ(halvyn_->Command("select-device", nullptr, &window, secondRow), 200);
  EXPECT_EQ(window["forwardRoutes"], json::array());
  EXPECT_EQ(window["lanDevices"][secondRow][5], "O");
  ASSERT_EQ(WaitForReceived(second, 17).size(), 17u);

  // Every slot and channel is free again, and the new route goes to the new device.
  alpha->Command("route alpha 10.51.100.7:5000 2 beta 10.113.0.9:6000 2");
  EXPECT_EQ(beta->WaitForLine("recv v ", 3, Scaled(5000)).rfind("recv v slot_port=14367 ", 0), 0u);
  const std::vector<std::string> writes = DeviceWritesAfterSelection(second, 2);
  ASSERT_EQ(writes.size(), 2u) << second.Output();
  EXPECT_EQ(writes[0], WriteLine(0x0800,
                                 "0000"
                                 "0066"
                                 "0000"
                                 "381f"
                                 "c1c0000000000000"
                                 "6730"
                                 "00000000"
                                 "0000"));
  EXPECT_EQ(writes[1], WriteLine(0x0810,
                                 "0200"
                                 "1f38"
                                 "0ac80066"
                                 "0a336407"));
  // The first device heard nothing of it.
  ExpectNoMoreDeviceWrites(*device_, 5);
}

TEST_F(LanRouteTest, ProbeForAnRxDeviceNotLoggedInWritesTheTemplateButAddsNoRow) {
  LogInAlphaAndBeta();
  // gamma never logs in; its probe comes from beta's host.
  alpha->Command("route alpha 10.51.100.7:5000 1 gamma 10.113.0.9:6200 1");
  ASSERT_NE(alpha->WaitForLine("recv u ", 1, Scaled(5000)), "");
  RemoteClient& gamma = StartClient(beta_, "gamma", 6200);
  gamma.Command("probe 14367");
  const std::vector<std::string> writes = DeviceWritesAfterSelection(*device_, 3);
  ASSERT_EQ(writes.size(), 3u) << device_->Output();
  const std::string head =
      "rx " + std::string(kDeviceSource) + " write register=0x0400 length=64 data=";
  ASSERT_EQ(writes[2].rfind(head, 0), 0u) << writes[2];
  EXPECT_EQ(writes[2].substr(head.size() + 92, 16), "0a710009381f1838");  // gamma:6200
  std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(300)));
  EXPECT_EQ(halvyn_->Window()["forwardRoutes"], json::array());
}

TEST_F(LanRouteTest, NewDeviceClearsTheMarkWhileTheSelectionStays) {
  EXPECT_EQ(halvyn_->Window()["lanDevices"][0][5], "O");
  RigProcess& second = StartDevsim(AddDevice(2), {"--id", "DEV-2", "--name", "Spare"});
  const json window = WaitForDeviceRows(2);
  for (const json& row : window["lanDevices"]) EXPECT_EQ(row[5], "") << row;

  // Route writes still go to the first device.
  RemoteClient& filler = StartClient(alpha_, "filler", 7000);
  filler.Command("route filler 10.51.100.7:7000 1 filler 10.51.100.7:7000 1");
  ASSERT_EQ(filler.WaitForLine("recv u ", 1, Scaled(5000)).rfind("recv u slot_port=14367 ", 0), 0u);
  const std::vector<std::string> writes = DeviceWritesAfterSelection(*device_, 2);
  ASSERT_EQ(writes.size(), 2u) << device_->Output();
  EXPECT_EQ(writes[0].rfind("rx " + std::string(kDeviceSource) + " write register=0x0800 ", 0), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(300)));
  EXPECT_TRUE(ReceivedLines(second).empty()) << second.Output();
}

}  // namespace
}  // namespace halvyn::testing
