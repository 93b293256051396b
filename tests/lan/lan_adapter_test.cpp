// Which adapter halvyn takes for the LAN, on a PC namespace that also holds
// the links a real host collects: bridges, veth links, links that are down.
// The PC's eth0 (a veth, holding the default route) is the rig's LAN; a
// macvlan on top of it stands in for a physical adapter.
#include <gtest/gtest.h>

#include "tests/lan/lan_test_fixture.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;

class LanAdapterTest : public LanTest {
 protected:
  void Ip(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "ip");
    const rig::CommandResult result = rig_->Exec(pc_, arguments);
    ASSERT_EQ(result.exitCode, 0) << result.output;
  }
  // "aa:bb:cc:dd:ee:ff" as the window writes it: "AA-BB-CC-DD-EE-FF".
  std::string WindowMac(const std::string& interfaceName) {
    std::string mac = MacOf(pc_, interfaceName);
    for (char& c : mac) c = c == ':' ? '-' : char(std::toupper(static_cast<unsigned char>(c)));
    return mac;
  }
  // What the window and standard error say of the chosen adapter.
  void ExpectChosen(const std::string& name, const std::string& address) {
    const std::string mac = WindowMac(name);
    EXPECT_EQ(halvyn_->Window()["lanInterface"],
              (json{{"name", name}, {"address", address}, {"mac", mac}}));
    EXPECT_EQ(halvyn_->Window()["localAddress"], address);
    EXPECT_NE(
        halvyn_->Stderr().find("LAN interface " + name + ": " + address + ", MAC " + mac + "\n"),
        std::string::npos)
        << halvyn_->Stderr();
  }
};

TEST_F(LanAdapterTest, LaterDownBridgeAndVethWithoutDefaultRouteLeaveTheLanAdapter) {
  Ip({"link", "add", "br9", "type", "bridge"});
  Ip({"addr", "add", "10.201.0.1/24", "dev", "br9"});
  Ip({"link", "add", "ve0", "type", "veth", "peer", "name", "ve1"});
  Ip({"addr", "add", "10.202.0.1/24", "dev", "ve0"});
  Ip({"link", "set", "ve1", "up"});
  Ip({"link", "set", "ve0", "up"});
  StartHalvyn();
  ExpectChosen("eth0", kPcAddress);
}

TEST_F(LanAdapterTest, PhysicalAdapterBeatsVethAndTheDefaultRouteBeatsALaterOne) {
  Ip({"link", "add", "lan1", "link", "eth0", "type", "macvlan", "mode", "bridge"});
  Ip({"addr", "add", "10.200.0.21/24", "dev", "lan1"});
  Ip({"link", "set", "lan1", "up"});
  Ip({"link", "add", "lan2", "link", "eth0", "type", "macvlan", "mode", "bridge"});
  Ip({"addr", "add", "10.200.0.22/24", "dev", "lan2"});
  Ip({"link", "set", "lan2", "up"});
  ASSERT_TRUE(rig_->AddDefaultRoute(pc_, kGatewayAddress, "lan1", 100)) << rig_->error();
  // The latest link, holding a default route too: a veth.
  Ip({"link", "add", "ve0", "type", "veth", "peer", "name", "ve1"});
  Ip({"addr", "add", "10.202.0.1/24", "dev", "ve0"});
  Ip({"link", "set", "ve1", "up"});
  Ip({"link", "set", "ve0", "up"});
  ASSERT_TRUE(rig_->AddDefaultRoute(pc_, "10.202.0.2", "ve0", 50)) << rig_->error();
  StartHalvyn();
  ExpectChosen("lan1", "10.200.0.21");
}

TEST_F(LanAdapterTest, LanInterfaceOptionChoosesTheNamedAdapterEvenWhenItIsDown) {
  Ip({"link", "add", "br9", "type", "bridge"});
  Ip({"addr", "add", "10.201.0.1/24", "dev", "br9"});
  StartHalvyn({"--lan-interface", "br9"});
  ExpectChosen("br9", "10.201.0.1");
}

}  // namespace
}  // namespace halvyn::testing
