// The device link on a LAN of network namespaces: halvyn-devsim as the
// device, halvyn-devicelink-probe as the PC side.
//
//   gw   10.200.0.1   02:00:00:00:00:01
//   pc   10.200.0.10  02:00:00:00:00:10   default via 10.200.0.1
//   dev1 10.200.0.101                      default via 10.200.0.1 (multicast leaves there)
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/rig/rig_gtest.h"

namespace halvyn {
namespace {

using testing::rig::CommandResult;
using testing::rig::NetworkRig;
using testing::rig::RigProcess;

class DeviceLinkLanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HALVYN_REQUIRE_NETNS();
    rig_ = std::make_unique<NetworkRig>();
    gateway_ = rig_->AddHost("gw");
    pc_ = rig_->AddHost("pc");
    device_ = rig_->AddHost("dev1");
    rig_->AddAdapter(gateway_, "eth0", "10.200.0.1/24", "02:00:00:00:00:01");
    rig_->AddAdapter(pc_, "eth0", "10.200.0.10/24", "02:00:00:00:00:10");
    rig_->AddDefaultRoute(pc_, "10.200.0.1", "eth0");
    rig_->AddAdapter(device_, "eth0", "10.200.0.101/24");
    rig_->AddDefaultRoute(device_, "10.200.0.1", "eth0");
    ASSERT_TRUE(rig_->ok()) << rig_->error();
  }

  // Starts devsim in the device namespace and waits until its port is bound.
  RigProcess& StartDevsim(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), HALVYN_DEVSIM);
    RigProcess& devsim = rig_->Spawn(device_, arguments);
    EXPECT_TRUE(devsim.WaitForOutput("halvyn-devsim: listening", 5000)) << devsim.Output();
    return devsim;
  }

  CommandResult Probe(const std::string& host, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), HALVYN_DEVICELINK_PROBE);
    return rig_->Exec(host, arguments, 30000);
  }

  std::string DumpFile() const { return rig_->directory() + "/registers"; }

  // The dump file once it reports at least `datagrams` datagrams (waits up to 5 s).
  std::string DumpAfter(int datagrams) const {
    std::string text;
    for (int i = 0; i < 250; ++i) {
      std::ifstream file(DumpFile());
      std::ostringstream read;
      read << file.rdbuf();
      text = read.str();
      int count = -1;
      if (std::sscanf(text.c_str(), "datagrams %d", &count) == 1 && count >= datagrams) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return text;
  }

  std::unique_ptr<NetworkRig> rig_;
  std::string gateway_, pc_, device_;
};

TEST_F(DeviceLinkLanTest, ListenerInThePcSeesTheDeviceAnnouncement) {
  StartDevsim({"--id", "DEV-1", "--name", "Stage Left", "--mac", "02:aa:bb:cc:dd:01",
               "--fpga-version", "1a05", "--byte18", "7", "--byte19", "9", "--interval-ms", "200",
               "--interface", "10.200.0.101"});
  const CommandResult result = Probe(pc_, {"discover", "--seconds", "10", "--count", "1"});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("row|1|DEV-1|Stage Left|10.200.0.101|1:05||mac=02-AA-BB-CC-DD-01 "
                               "b18=7 b19=9\n"),
            std::string::npos)
      << result.output;
  // Repeated announcements add no row; the window's close ends the listener.
  EXPECT_EQ(result.output.find("row|2|"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("stopped ended=1"), std::string::npos) << result.output;
}

TEST_F(DeviceLinkLanTest, TwoDevicesWithTheSameNameGiveTwoRows) {
  const std::string second = rig_->AddHost("dev2");
  rig_->AddAdapter(second, "eth0", "10.200.0.102/24");
  rig_->AddDefaultRoute(second, "10.200.0.1", "eth0");
  ASSERT_TRUE(rig_->ok()) << rig_->error();
  StartDevsim({"--id", "A", "--name", "Twin", "--interval-ms", "200"});
  RigProcess& other =
      rig_->Spawn(second, {HALVYN_DEVSIM, "--id", "B", "--name", "Twin", "--interval-ms", "200"});
  ASSERT_TRUE(other.WaitForOutput("listening", 5000)) << other.Output();
  const CommandResult result = Probe(pc_, {"discover", "--seconds", "10", "--count", "2"});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("|A|Twin|10.200.0.101|0123||"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("|B|Twin|10.200.0.102|0123||"), std::string::npos) << result.output;
}

TEST_F(DeviceLinkLanTest, RegisterWriteReachesTheDeviceFromPort19002) {
  RigProcess& devsim = StartDevsim({"--no-announce", "--dump-file", DumpFile()});
  const CommandResult result =
      Probe(pc_, {"write", "--to", "10.200.0.101", "--register", "0x0810", "--hex", "112233"});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(DumpAfter(1), "datagrams 1\n0x0810 0x1122\n0x0811 0x3300\n");
  EXPECT_TRUE(devsim.WaitForOutput(
      "rx 10.200.0.10:19002 write register=0x0810 length=4 data=11223300\n", 2000))
      << devsim.Output();

  ASSERT_TRUE(devsim.Signal(SIGUSR1));
  EXPECT_TRUE(devsim.WaitForOutput("datagrams 1\n0x0810 0x1122\n", 2000)) << devsim.Output();
  EXPECT_EQ(devsim.Terminate(), 0);
}

TEST_F(DeviceLinkLanTest, SelectionSetsUpTheDeviceAndClearsItsTransmitTemplates) {
  RigProcess& devsim = StartDevsim({"--no-announce", "--dump-file", DumpFile()});
  // Some registers already hold data, as a device that carried routes would.
  Probe(pc_, {"write", "--to", "10.200.0.101", "--register", "0x0500", "--hex", "ffffffff"});
  ASSERT_NE(DumpAfter(1).find("0x0500 0xFFFF"), std::string::npos);

  const CommandResult result = Probe(pc_, {"select", "--to", "10.200.0.101"});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  const std::string dump = DumpAfter(18);
  std::istringstream lines(dump);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "datagrams 18");
  std::map<unsigned, unsigned> registers;
  unsigned address = 0, value = 0;
  while (std::getline(lines, line))
    if (std::sscanf(line.c_str(), "0x%x 0x%x", &address, &value) == 2) registers[address] = value;
  // The PC's identity as the namespace gives it: 10.200.0.10, 02:00:00:00:00:10.
  const std::map<unsigned, unsigned> setup = {{0x0006, 0x0020}, {0x0022, 0xFFFF}, {0x0023, 0xFFFF},
                                              {0x001A, 0x0200}, {0x001B, 0x0000}, {0x001C, 0x0010},
                                              {0x001D, 0x0AC8}, {0x001E, 0x000A}};
  for (const auto& [reg, expected] : setup) EXPECT_EQ(registers[reg], expected) << std::hex << reg;
  for (unsigned reg = 0x0400; reg <= 0x07FF; ++reg) {
    ASSERT_TRUE(registers.count(reg)) << std::hex << reg;
    EXPECT_EQ(registers[reg], 0u) << std::hex << reg;
  }
  EXPECT_EQ(registers.size(), 8u + 1024u);

  // Seventeen datagrams, set-up first, then the clearing writes in register order.
  const std::string output = devsim.Output();
  size_t at = output.find("setup register=0x0006 length=64");
  ASSERT_NE(at, std::string::npos) << output;
  for (unsigned i = 0; i < 16; ++i) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "write register=0x%04X length=128 ", 0x0400 + 64 * i);
    const size_t next = output.find(expected, at);
    ASSERT_NE(next, std::string::npos) << expected << "\n" << output;
    at = next;
  }
}

TEST_F(DeviceLinkLanTest, IdentityTakesTheLaterOfTwoEthernetAdaptersAndItsGatewayMac) {
  const std::string secondGateway = rig_->AddHost("gw2");
  rig_->AddAdapter(secondGateway, "eth0", "10.201.0.1/24", "02:00:00:00:00:02");
  const std::string pc = rig_->AddHost("pc2");
  rig_->AddAdapter(pc, "eth0", "10.200.0.20/24", "02:00:00:00:00:20");
  rig_->AddAdapter(pc, "eth1", "10.201.0.20/24", "02:00:00:00:00:21");
  rig_->AddDefaultRoute(pc, "10.200.0.1", "eth0", 100);
  rig_->AddDefaultRoute(pc, "10.201.0.1", "eth1", 200);
  ASSERT_TRUE(rig_->ok()) << rig_->error();

  const CommandResult result = Probe(pc, {"identity"});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(result.output,
            "localAddress 0x0AC90014\n"
            "localAddressText 10.201.0.20\n"
            "gatewayText 10.201.0.1\n"
            "localMac 02-00-00-00-00-21\n"
            "gatewayMac 02-00-00-00-00-02\n");
}

TEST_F(DeviceLinkLanTest, SilentGatewayLeavesItsMacZero) {
  const std::string pc = rig_->AddHost("pc3");
  rig_->AddAdapter(pc, "eth0", "10.200.0.30/24", "02:00:00:00:00:30");
  rig_->AddDefaultRoute(pc, "10.200.0.99", "eth0");  // nobody has this address
  ASSERT_TRUE(rig_->ok()) << rig_->error();
  const CommandResult result = Probe(pc, {"identity"});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_NE(result.output.find("gatewayText 10.200.0.99\n"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("gatewayMac 00-00-00-00-00-00\n"), std::string::npos)
      << result.output;
}

}  // namespace
}  // namespace halvyn
