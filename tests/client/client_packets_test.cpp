// The datagrams halvyn-client sends, byte for byte, and that the server's own
// readers take them as meant.
#include <gtest/gtest.h>

#include "relay/relay_client_codec.h"
#include "routes/route_packets.h"

namespace halvyn {
namespace {

ClientRecord Alpha() {
  ClientRecord self;
  self.set_name("alpha");
  self.set_p2p_ip(NetworkAddress(10, 1, 2, 3));
  self.set_p2p_port(4000);
  return self;
}

// "pr", letter, 0, "alpha", p2p 10.1.2.3 : 4000 (LE), all else zero.
Datagram ExpectedRecordForm(uint8_t letter) {
  Datagram bytes(120, 0);
  bytes[0] = 'p';
  bytes[1] = 'r';
  bytes[2] = letter;
  const char name[] = "alpha";
  std::copy(name, name + 5, bytes.begin() + 4);
  bytes[60] = 10, bytes[61] = 1, bytes[62] = 2, bytes[63] = 3;
  bytes[64] = 0xA0, bytes[65] = 0x0F;
  return bytes;
}

TEST(ClientPackets, RecordFormCarriesNameAndP2pAddressAndNothingElse) {
  for (const uint8_t letter : {'e', 'f', 'k', 'i', 'w'})
    EXPECT_EQ(BuildRecordPacket(letter, Alpha()), ExpectedRecordForm(letter)) << letter;
}

TEST(ClientPackets, ConnectRequestPadsTheTargetNameToAWholeField) {
  Datagram expected = ExpectedRecordForm('p');
  expected.resize(152, 0);
  std::copy_n("beta", 4, expected.begin() + 120);
  EXPECT_EQ(BuildConnectRequest(Alpha(), "beta"), expected);

  // A name longer than a field still travels whole, with its terminator.
  const std::string longName(40, 'n');
  const Datagram request = BuildConnectRequest(Alpha(), longName);
  ASSERT_EQ(request.size(), 161u);
  EXPECT_EQ(std::string(request.begin() + 120, request.end() - 1), longName);
  EXPECT_EQ(request.back(), 0);
}

TEST(ClientPackets, RouteRequestLaysOutTheBodyAsTheServerReadsIt) {
  CRouteInfo route;
  route.set_tx_param(0x1234);
  route.set_tx_ip(NetworkAddress(198, 51, 100, 7));
  route.set_tx_port(5000);
  route.set_tx_chan_count(2);
  route.set_rx_ip(NetworkAddress(203, 0, 113, 9));
  route.set_rx_port(6000);
  route.set_rx_chan_count(3);
  route.set_tx_name("alpha");
  route.set_rx_name("beta");
  const Datagram request = BuildRouteRequest(Alpha(), route);

  Datagram expected = ExpectedRecordForm('r');
  expected.resize(228, 0);
  const std::vector<std::pair<size_t, uint8_t>> body = {
      {122, 0x34}, {123, 0x12},                                      // tx_param LE
      {124, 198},  {125, 51},   {126, 100}, {127, 7},                // tx_ip
      {128, 0x88}, {129, 0x13},                                      // tx_port 5000 LE
      {131, 2},                                                      // tx_chan_count
      {144, 203},  {145, 0},    {146, 113}, {147, 9},                // rx_ip
      {148, 0x70}, {149, 0x17},                                      // rx_port 6000 LE
      {151, 3},                                                      // rx_chan_count
      {164, 'a'},  {165, 'l'},  {166, 'p'}, {167, 'h'}, {168, 'a'},  // tx_name
      {196, 'b'},  {197, 'e'},  {198, 't'}, {199, 'a'},              // rx_name
  };
  for (const auto& [offset, value] : body) expected[offset] = value;
  EXPECT_EQ(request, expected);
  EXPECT_EQ(RouteRequestBody(std::span<const uint8_t, 228>(request.data(), 228)), route);
}

TEST(ClientPackets, ReleaseCarriesTheSlotPortLeastSignificantByteFirst) {
  const Datagram release = BuildRouteRelease(Alpha(), 14368);  // 0x3820
  Datagram expected = ExpectedRecordForm('x');
  expected.resize(228, 0);
  expected[120] = 0x20;
  expected[121] = 0x38;
  EXPECT_EQ(release, expected);
  EXPECT_EQ(ReleaseSlotPort(release), 14368);
}

// An "h" of two clients as the relay sends it; the reader takes whole blocks
// only and checks each block's "pr", "h" and count byte.
TEST(ClientPackets, ClientListReadsWholeBlocksAndChecksEveryHeader) {
  Datagram list = BuildRecordPacket('h', Alpha(), 2);
  const Datagram second = BuildRecordPacket('h', NamedRecord("beta"), 2);
  list.insert(list.end(), second.begin(), second.end());
  ASSERT_TRUE(ClientListView(list).WellFormed());
  EXPECT_EQ(ClientListView(list).record(1).name(), "beta");

  list.push_back(0);  // a partial third block
  EXPECT_EQ(ClientListView(list).size(), 2u);
  EXPECT_FALSE(ClientListView(list).WellFormed());
  list.pop_back();
  list[120 + 3] = 3;  // the second block counts three
  EXPECT_TRUE(ClientListView(list).HasListHeader(0));
  EXPECT_FALSE(ClientListView(list).HasListHeader(1));
}

}  // namespace
}  // namespace halvyn
