#include "devicelink/local_network_identity.h"

#include <gtest/gtest.h>

#include "platform/ipv4.h"
#include "platform/proc_net_tables.h"

namespace halvyn {
namespace {

NetworkAdapter Adapter(const std::string& name, int index, uint16_t type, uint32_t address,
                       uint32_t gateway, uint8_t macLast) {
  NetworkAdapter adapter;
  adapter.name = name;
  adapter.index = index;
  adapter.hardwareType = type;
  adapter.firstAddress = address;
  adapter.defaultGateway = gateway;
  adapter.mac = {0x02, 0, 0, 0, 0, macLast};
  adapter.up = true;
  adapter.carrier = true;
  return adapter;
}

constexpr uint16_t kLoopback = 772;  // ARPHRD_LOOPBACK

TEST(ChooseLocalAdapterTest, LastQualifyingEthernetAdapterWins) {
  const std::vector<NetworkAdapter> adapters = {
      Adapter("lo", 1, kLoopback, NetworkAddress(127, 0, 0, 1), 0, 0),
      Adapter("eth0", 2, kHardwareTypeEthernet, NetworkAddress(10, 0, 0, 5),
              NetworkAddress(10, 0, 0, 1), 5),
      Adapter("eth1", 3, kHardwareTypeEthernet, NetworkAddress(192, 168, 1, 20),
              NetworkAddress(192, 168, 1, 1), 20),
  };
  const LocalAdapterChoice choice = ChooseLocalAdapter(adapters);
  EXPECT_EQ(choice.localAddress, 0xC0A80114u);  // 192 most significant, 20 least
  EXPECT_EQ(DottedText(HostToNetworkOrder(choice.localAddress)), "192.168.1.20");
  EXPECT_EQ(choice.gatewayText, "192.168.1.1");
  EXPECT_EQ(choice.localMac, (MacAddress{0x02, 0, 0, 0, 0, 20}));
  EXPECT_EQ(choice.interfaceIndex, 3);
}

TEST(ChooseLocalAdapterTest, AdaptersWithoutAddressWirelessOrOtherTypesAreSkipped) {
  NetworkAdapter wireless =
      Adapter("wlan0", 4, kHardwareTypeEthernet, NetworkAddress(192, 168, 0, 9),
              NetworkAddress(192, 168, 0, 1), 9);
  wireless.wireless = true;
  const std::vector<NetworkAdapter> adapters = {
      Adapter("eth0", 2, kHardwareTypeEthernet, NetworkAddress(10, 0, 0, 5), 0, 5),
      Adapter("eth1", 3, kHardwareTypeEthernet, 0, 0, 6),  // no address: 0.0.0.0
      wireless,
      Adapter("lo", 1, kLoopback, NetworkAddress(127, 0, 0, 1), 0, 0),
  };
  const LocalAdapterChoice choice = ChooseLocalAdapter(adapters);
  EXPECT_EQ(DottedText(HostToNetworkOrder(choice.localAddress)), "10.0.0.5");
  EXPECT_EQ(choice.gatewayText, "");  // no default route through it
  EXPECT_EQ(choice.localMac, (MacAddress{0x02, 0, 0, 0, 0, 5}));
}

TEST(ChooseLocalAdapterTest, NothingQualifyingLeavesEverythingZero) {
  NetworkAdapter wireless =
      Adapter("wlan0", 2, kHardwareTypeEthernet, NetworkAddress(192, 168, 0, 9),
              NetworkAddress(192, 168, 0, 1), 9);
  wireless.wireless = true;
  const LocalAdapterChoice choice = ChooseLocalAdapter({wireless});
  EXPECT_EQ(choice.localAddress, 0u);
  EXPECT_EQ(choice.gatewayText, "");
  EXPECT_EQ(choice.localMac, MacAddress{});
  EXPECT_EQ(choice.interfaceIndex, 0);
}

// The name of the chosen adapter ("" for none).
std::string Chosen(const std::vector<NetworkAdapter>& adapters, std::string_view name = {}) {
  return ChooseLocalAdapter(adapters, name).interfaceName;
}

TEST(ChooseLocalAdapterTest, LinksDownOrWithoutCarrierAreSkippedAndVirtualOnesCountLast) {
  const uint32_t gw = NetworkAddress(10, 0, 0, 1);
  NetworkAdapter lan = Adapter("eth0", 2, kHardwareTypeEthernet, NetworkAddress(10, 0, 0, 5), 0, 5);
  NetworkAdapter veth =
      Adapter("veth1", 3, kHardwareTypeEthernet, NetworkAddress(172, 17, 0, 1), gw, 6);
  veth.bridgeOrVeth = true;
  NetworkAdapter bridge =
      Adapter("docker0", 4, kHardwareTypeEthernet, NetworkAddress(172, 18, 0, 1), 0, 7);
  bridge.bridgeOrVeth = true;
  NetworkAdapter down =
      Adapter("eth1", 5, kHardwareTypeEthernet, NetworkAddress(10, 1, 0, 5), gw, 8);
  down.up = false;
  NetworkAdapter noCarrier =
      Adapter("eth2", 6, kHardwareTypeEthernet, NetworkAddress(10, 2, 0, 5), gw, 9);
  noCarrier.carrier = false;

  // A wired adapter beats later virtual ones, even one with the default route.
  EXPECT_EQ(Chosen({lan, veth, bridge, down, noCarrier}), "eth0");
  // Without it, the virtual one holding the default route beats the later one.
  EXPECT_EQ(Chosen({veth, bridge, down, noCarrier}), "veth1");
  EXPECT_EQ(Chosen({bridge, down, noCarrier}), "docker0");
  EXPECT_EQ(Chosen({down, noCarrier}), "");
}

TEST(ChooseLocalAdapterTest, TheAdapterWithTheDefaultRouteBeatsALaterOne) {
  const std::vector<NetworkAdapter> adapters = {
      Adapter("eth0", 2, kHardwareTypeEthernet, NetworkAddress(10, 0, 0, 5),
              NetworkAddress(10, 0, 0, 1), 5),
      Adapter("eth1", 3, kHardwareTypeEthernet, NetworkAddress(192, 168, 1, 20), 0, 20),
  };
  const LocalAdapterChoice choice = ChooseLocalAdapter(adapters);
  EXPECT_EQ(choice.interfaceName, "eth0");
  EXPECT_EQ(choice.gatewayText, "10.0.0.1");
  EXPECT_EQ(choice.localMac, (MacAddress{0x02, 0, 0, 0, 0, 5}));
}

TEST(ChooseLocalAdapterTest, ANamedAdapterIsChosenWhateverItsStateAndAMissingNameChoosesNone) {
  NetworkAdapter bridge =
      Adapter("br0", 4, kHardwareTypeEthernet, NetworkAddress(10, 9, 0, 1), 0, 7);
  bridge.bridgeOrVeth = true;
  bridge.up = false;
  const std::vector<NetworkAdapter> adapters = {
      Adapter("eth0", 2, kHardwareTypeEthernet, NetworkAddress(10, 0, 0, 5),
              NetworkAddress(10, 0, 0, 1), 5),
      bridge};
  const LocalAdapterChoice choice = ChooseLocalAdapter(adapters, "br0");
  EXPECT_EQ(choice.interfaceName, "br0");
  EXPECT_EQ(DottedText(HostToNetworkOrder(choice.localAddress)), "10.9.0.1");
  EXPECT_EQ(choice.localMac, (MacAddress{0x02, 0, 0, 0, 0, 7}));
  EXPECT_EQ(choice.interfaceIndex, 4);
  EXPECT_EQ(Chosen(adapters, "eth9"), "");
  EXPECT_EQ(ChooseLocalAdapter(adapters, "eth9").localAddress, 0u);
}

TEST(ProcNetTablesTest, DefaultGatewaysAreTheUpGatewayRoutesToEverywhere) {
  const char table[] =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "eth0\t0000090A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
      "eth0\t00000000\t0100090A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
      "eth1\t00000000\t0101A8C0\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"  // not a gateway route
      "eth2\t00000000\t0102A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
      "garbage line\n";
  const std::vector<DefaultGateway> gateways = ParseDefaultGateways(table);
  ASSERT_EQ(gateways.size(), 2u);
  EXPECT_EQ(gateways[0].interfaceName, "eth0");
  EXPECT_EQ(DottedText(gateways[0].gateway), "10.9.0.1");
  EXPECT_EQ(gateways[1].interfaceName, "eth2");
  EXPECT_EQ(DottedText(gateways[1].gateway), "192.168.2.1");
}

TEST(ProcNetTablesTest, NeighbourTableEntriesAndTheirCompleteness) {
  const char table[] =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "10.9.0.1         0x1         0x2         02:00:00:00:00:01     *        eth0\n"
      "10.9.0.7         0x1         0x0         00:00:00:00:00:00     *        eth0\n"
      "not-an-address   0x1         0x2         02:00:00:00:00:01     *        eth0\n";
  const std::vector<NeighbourEntry> entries = ParseNeighbourTable(table);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].address, NetworkAddress(10, 9, 0, 1));
  EXPECT_EQ(entries[0].mac, (MacAddress{0x02, 0, 0, 0, 0, 0x01}));
  EXPECT_TRUE(entries[0].complete);
  EXPECT_EQ(entries[0].interfaceName, "eth0");
  EXPECT_FALSE(entries[1].complete);
}

TEST(MacAddressTest, TextRoundTripsAndMalformedTextIsRefused) {
  EXPECT_EQ(MacText({0x00, 0x11, 0x22, 0xAA, 0xBB, 0xFF}), "00-11-22-AA-BB-FF");
  EXPECT_EQ(ParseMac("00:11:22:aa:bb:ff"), (MacAddress{0x00, 0x11, 0x22, 0xAA, 0xBB, 0xFF}));
  EXPECT_EQ(ParseMac("00-11-22-AA-BB-FF"), (MacAddress{0x00, 0x11, 0x22, 0xAA, 0xBB, 0xFF}));
  EXPECT_FALSE(ParseMac("00:11-22:aa:bb:ff"));
  EXPECT_FALSE(ParseMac("00:11:22:aa:bb"));
  EXPECT_FALSE(ParseMac("00:11:22:aa:bb:fg"));
}

}  // namespace
}  // namespace halvyn
