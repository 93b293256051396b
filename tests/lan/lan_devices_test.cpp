// The LAN device list, device selection, the PC's identity and the close
// handling of the real halvyn, with halvyn-devsim devices on a namespace LAN
// (see lan_test_fixture.h for the addresses).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "platform/udp_socket.h"
#include "tests/lan/lan_test_fixture.h"
#include "tests/rig/network_namespace_thread.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;
using rig::RigProcess;

constexpr char kHalvynSource[] = "10.200.0.10:19002";

// One entry of the set-up datagram: register, 0x80 0x00 0x00 0x00, value.
std::string SetupEntry(unsigned registerAddress, const std::string& valueHex) {
  char head[16];
  std::snprintf(head, sizeof head, "%04x80000000", registerAddress);
  return head + valueHex;
}

// The line the device prints for the set-up datagram from `source` telling it
// the PC's MAC (aa:bb:..) and address (dotted).
std::string SetupLine(const std::string& source, const std::string& mac, unsigned a, unsigned b,
                      unsigned c, unsigned d) {
  const std::string macHex = HexDigits(mac);
  char address[16];
  std::snprintf(address, sizeof address, "%02x%02x%02x%02x", a, b, c, d);
  const std::string addressHex = address;
  return "rx " + source + " setup register=0x0006 length=64 data=" + SetupEntry(0x0006, "0020") +
         SetupEntry(0x0022, "ffff") + SetupEntry(0x0023, "ffff") +
         SetupEntry(0x001A, macHex.substr(0, 4)) + SetupEntry(0x001B, macHex.substr(4, 4)) +
         SetupEntry(0x001C, macHex.substr(8, 4)) + SetupEntry(0x001D, addressHex.substr(0, 4)) +
         SetupEntry(0x001E, addressHex.substr(4, 4));
}

// The seventeen lines a selection leaves in the device, set-up first.
std::vector<std::string> SelectionLines(const std::string& setupLine, const std::string& source) {
  std::vector<std::string> lines = {setupLine};
  for (unsigned i = 0; i < 16; ++i) lines.push_back(ZeroWriteLine(source, 0x0400 + 64 * i, 128));
  return lines;
}

// The row whose IP column reads address, or -1.
int RowOf(const json& window, const std::string& address) {
  const json& rows = window["lanDevices"];
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i][3] == address) return int(i);
  return -1;
}

// A short wait in which nothing more may arrive.
void Settle() {
  std::this_thread::sleep_for(std::chrono::milliseconds(Scaled(400)));
}

TEST_F(LanTest, AnnouncingDeviceAppearsAsRowOneWithItsIdNameIpAndVersion) {
  StartDevsim(AddDevice(1), {"--id", "DEV-1", "--name", "Stage Left", "--fpga-version", "1a05",
                             "--mac", "02:aa:bb:cc:dd:01"});
  StartHalvyn();
  const json window = WaitForDeviceRows(1);
  EXPECT_EQ(window["lanDevices"],
            json::array({json::array({"1", "DEV-1", "Stage Left", "10.200.0.101", "1:05", ""})}));
  EXPECT_EQ(window["localAddress"], kPcAddress);
  EXPECT_EQ(window["messageBoxes"], json::array());
  // Its next announcements add nothing.
  Settle();
  EXPECT_EQ(halvyn_->Window()["lanDevices"].size(), 1u);
}

TEST_F(LanTest, TwoDevicesWithTheSameNameGiveTwoRows) {
  StartDevsim(AddDevice(1), {"--id", "A-1", "--name", "Twin", "--fpga-version", "0102"});
  StartDevsim(AddDevice(2), {"--id", "B-2", "--name", "Twin", "--fpga-version", "0304"});
  StartHalvyn();
  const json window = WaitForDeviceRows(2);
  const json& rows = window["lanDevices"];
  ASSERT_EQ(rows.size(), 2u);
  // The order of the rows is the device map's; their numbers run 1, 2 either way.
  EXPECT_EQ(rows[0][0], "1");
  EXPECT_EQ(rows[1][0], "2");
  const int first = RowOf(window, "10.200.0.101");
  const int second = RowOf(window, "10.200.0.102");
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  EXPECT_EQ(rows[first], json::array({rows[first][0], "A-1", "Twin", "10.200.0.101", "0102", ""}));
  EXPECT_EQ(rows[second],
            json::array({rows[second][0], "B-2", "Twin", "10.200.0.102", "0304", ""}));
}

TEST_F(LanTest, SelectingADeviceSendsTheSetUpThenSixteenClearingWritesAndMarksIt) {
  RigProcess& device = StartDevsim(AddDevice(1), {"--id", "DEV-1", "--name", "Stage Left"});
  const std::string pcMac = MacOf(pc_);
  StartHalvyn();
  WaitForDeviceRows(1);
  ASSERT_TRUE(ReceivedLines(device).empty());

  json window;
  ASSERT_EQ(halvyn_->Command("select-device", nullptr, &window, 0), 200);
  EXPECT_EQ(window["lanDevices"][0][5], "O");

  WaitForReceived(device, 17);
  Settle();
  EXPECT_EQ(ReceivedLines(device),
            SelectionLines(SetupLine(kHalvynSource, pcMac, 10, 200, 0, 10), kHalvynSource))
      << device.Output();
  EXPECT_EQ(halvyn_->Window()["lanDevices"][0][5], "O");
}

TEST_F(LanTest, SelectingASecondDeviceMovesTheMarkAndTheWrites) {
  RigProcess& first = StartDevsim(AddDevice(1), {"--id", "A-1", "--name", "First"});
  RigProcess& second = StartDevsim(AddDevice(2), {"--id", "B-2", "--name", "Second"});
  const std::string pcMac = MacOf(pc_);
  StartHalvyn();
  json window = WaitForDeviceRows(2);
  const int rowA = RowOf(window, "10.200.0.101");
  const int rowB = RowOf(window, "10.200.0.102");
  ASSERT_GE(rowA, 0);
  ASSERT_GE(rowB, 0);
  const std::vector<std::string> expected =
      SelectionLines(SetupLine(kHalvynSource, pcMac, 10, 200, 0, 10), kHalvynSource);

  ASSERT_EQ(halvyn_->Command("select-device", nullptr, &window, rowA), 200);
  EXPECT_EQ(window["lanDevices"][rowA][5], "O");
  EXPECT_EQ(window["lanDevices"][rowB][5], "");
  EXPECT_EQ(WaitForReceived(first, 17), expected);

  ASSERT_EQ(halvyn_->Command("select-device", nullptr, &window, rowB), 200);
  EXPECT_EQ(window["lanDevices"][rowA][5], "");
  EXPECT_EQ(window["lanDevices"][rowB][5], "O");
  EXPECT_EQ(WaitForReceived(second, 17), expected);
  Settle();
  // The first device hears nothing more; the second got exactly one selection.
  EXPECT_EQ(ReceivedLines(first), expected) << first.Output();
  EXPECT_EQ(ReceivedLines(second), expected) << second.Output();
}

TEST_F(LanTest, DoubleClickBelowTheLastRowSendsNothing) {
  RigProcess& device = StartDevsim(AddDevice(1), {});
  StartHalvyn();
  WaitForDeviceRows(1);
  for (int row : {1, 5}) {
    json window;
    ASSERT_EQ(halvyn_->Command("select-device", nullptr, &window, row), 200) << row;
    EXPECT_EQ(window["lanDevices"][0][5], "") << row;
  }
  Settle();
  EXPECT_TRUE(ReceivedLines(device).empty()) << device.Output();
  // The device is reachable: a click on its row does reach it.
  ASSERT_EQ(halvyn_->Command("select-device", nullptr, nullptr, 0), 200);
  const std::vector<std::string> lines = WaitForReceived(device, 17);
  ASSERT_EQ(lines.size(), 17u) << device.Output();
  EXPECT_NE(lines[0].find(" setup register=0x0006 length=64 "), std::string::npos) << lines[0];
}

TEST_F(LanTest, PcWithTwoEthernetAdaptersTakesTheLaterOne) {
  const std::string secondGateway = rig_->AddHost("gw2");
  rig_->AddAdapter(secondGateway, "eth0", "10.201.0.1/24");
  rig_->AddAdapter(pc_, "eth1", "10.201.0.20/24");
  rig_->AddDefaultRoute(pc_, "10.201.0.1", "eth1", 200);
  ASSERT_TRUE(rig_->ok()) << rig_->error();
  RigProcess& device = StartDevsim(AddDevice(1), {});
  const std::string laterMac = MacOf(pc_, "eth1");
  ASSERT_NE(laterMac, MacOf(pc_, "eth0"));
  StartHalvyn();

  json window = WaitForDeviceRows(1);
  EXPECT_EQ(window["localAddress"], "10.201.0.20");
  // The set-up datagram tells the device the later adapter's MAC and address;
  // it still leaves through the adapter on the device's own subnet.
  ASSERT_EQ(halvyn_->Command("select-device", nullptr, nullptr, 0), 200);
  const std::vector<std::string> lines = WaitForReceived(device, 17);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], SetupLine(kHalvynSource, laterMac, 10, 201, 0, 20));
}

TEST_F(LanTest, TakenDevicePortShowsBindingIpFailureAndDevicesStillAppear) {
  // Another program holds UDP 19002 on the PC. (A socket belongs to the
  // namespace it is created in, so it is created on the namespace's thread.)
  std::optional<UdpSocket> holder;
  int bindError = -1;
  ASSERT_TRUE(rig::RunInNetworkNamespace(pc_, [&] {
    bindError = holder.emplace().Bind({0, 19002});
  }));
  ASSERT_EQ(bindError, 0);
  RigProcess& device = StartDevsim(AddDevice(1), {"--id", "DEV-1", "--name", "Stage Left"});
  StartHalvyn();

  const json window = WaitForDeviceRows(1);
  EXPECT_EQ(window["messageBoxes"], json::array({"binding ip failure."}));
  EXPECT_EQ(window["lanDevices"][0][1], "DEV-1");
  EXPECT_NE(halvyn_->Stderr().find("binding ip failure."), std::string::npos);

  // The device socket still sends, from a port the system chose.
  ASSERT_EQ(halvyn_->Command("select-device", nullptr, nullptr, 0), 200);
  const std::vector<std::string> lines = WaitForReceived(device, 17);
  ASSERT_EQ(lines.size(), 17u) << device.Output();
  EXPECT_EQ(lines[0].rfind("rx 10.200.0.10:", 0), 0u) << lines[0];
  EXPECT_EQ(lines[0].find(kHalvynSource), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(" setup register=0x0006 length=64 "), std::string::npos) << lines[0];
}

// Closing while announcements keep arriving: the discovery listener is stopped
// within its 2000 ms bound, so the whole process ends within 3 s, with status 0.
constexpr auto kCloseBound = std::chrono::milliseconds(3000);

class LanCloseTest : public LanTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LanCloseTest, ClosingWhileAnnouncementsKeepArrivingEndsTheProcessInTime) {
  const bool bySignal = GetParam();
  // Two devices announcing every millisecond, until the rig ends them.
  RigProcess& first = StartDevsim(AddDevice(1), {"--interval-ms", "1", "--quiet"});
  RigProcess& second = StartDevsim(AddDevice(2), {"--interval-ms", "1", "--quiet"});
  StartHalvyn();
  WaitForDeviceRows(2);
  ASSERT_TRUE(first.Running() && second.Running());

  const auto start = std::chrono::steady_clock::now();
  if (bySignal) {
    halvyn_->Signal(SIGTERM);
  } else {
    // The answer may or may not make it out before the process ends.
    halvyn_->Command("close");
  }
  const std::optional<int> status = halvyn_->WaitForExit(std::chrono::seconds(10));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  ASSERT_TRUE(status) << "still running after 10 s";
  EXPECT_EQ(*status, 0) << halvyn_->Stderr();
  EXPECT_LE(took, kCloseBound);
  RecordProperty("closeMilliseconds", int(took.count()));
}

INSTANTIATE_TEST_SUITE_P(CloseCommandAndSigterm, LanCloseTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Sigterm" : "CloseCommand");
                         });

}  // namespace
}  // namespace halvyn::testing
