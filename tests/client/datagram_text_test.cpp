// The lines halvyn-client prints for what it sends and receives: scripts and
// other tests parse them, so they are checked in full.
#include "tools/client/datagram_text.h"

#include <gtest/gtest.h>

#include "relay/relay_client_codec.h"
#include "routes/route_packets.h"

namespace halvyn {
namespace {

const Ipv4Endpoint kRelay{NetworkAddress(127, 0, 0, 1), 7002};

// A record as the server stores it: name, public address, p2p address, tick.
ClientRecord Stored(std::string_view name, Ipv4Endpoint publicEndpoint) {
  ClientRecord record;
  record.set_name(name);
  record.set_ip(publicEndpoint.address);
  record.set_port(publicEndpoint.port);
  record.set_p2p_ip(NetworkAddress(10, 1, 2, 3));
  record.set_p2p_port(4000);
  record.set_last_seen(123456);
  return record;
}

const ClientRecord kAlpha = Stored("alpha", {NetworkAddress(198, 51, 100, 7), 5000});
const ClientRecord kBeta = Stored("beta", {NetworkAddress(203, 0, 113, 9), 6000});

std::string Received(const Datagram& datagram) {
  return DescribeDatagram(Direction::kReceived, datagram, kRelay);
}
std::string Sent(const Datagram& datagram) {
  return DescribeDatagram(Direction::kSent, datagram, kRelay);
}

CRouteInfo AlphaToBeta() {
  CRouteInfo route;
  route.set_tx_name("alpha");
  route.set_tx_ip(NetworkAddress(198, 51, 100, 7));
  route.set_tx_port(5000);
  route.set_tx_chan_count(2);
  route.set_rx_name("beta");
  route.set_rx_ip(NetworkAddress(203, 0, 113, 9));
  route.set_rx_port(6000);
  route.set_rx_chan_count(2);
  route.set_tx_param(0x1234);
  return route;
}

TEST(DatagramText, RecordFormsFromTheServer) {
  EXPECT_EQ(Received(BuildRecordPacket('g', kAlpha)),
            "recv g name=alpha ip=198.51.100.7 port=5000 p2p=10.1.2.3:4000 last_seen=123456 "
            "size=120 src=127.0.0.1:7002");
  EXPECT_EQ(Received(BuildRecordPacket('i', kAlpha)),
            "recv i name=alpha p2p=10.1.2.3:4000 ip=198.51.100.7 port=5000 last_seen=123456 "
            "size=120 src=127.0.0.1:7002");
  // A forwarded "p" is cut to the record form by the server.
  Datagram connect = BuildConnectRequest(kAlpha, "beta");
  connect.resize(120);
  EXPECT_EQ(Received(connect), "recv p from=alpha p2p=10.1.2.3:4000 size=120 src=127.0.0.1:7002");
}

TEST(DatagramText, ListNamesEveryBlockInOrder) {
  Datagram list = BuildRecordPacket('h', kBeta);
  const Datagram second = BuildRecordPacket('h', kAlpha);
  list.insert(list.end(), second.begin(), second.end());
  EXPECT_EQ(Received(list),
            "recv h count=2 names=beta,alpha addrs=203.0.113.9:6000,198.51.100.7:5000 size=240 "
            "src=127.0.0.1:7002");
}

TEST(DatagramText, RouteRepliesShowTheSlotPortAndTheRoute) {
  const Datagram request = BuildRouteRequest(kAlpha, AlphaToBeta());
  const RouteReplies replies =
      BuildRouteReplies(std::span<const uint8_t, 228>(request.data(), 228), 14369);
  EXPECT_EQ(Received(Datagram(replies.u.begin(), replies.u.end())),
            "recv u slot_port=14369 tx_name=alpha tx=198.51.100.7:5000 tx_chan_count=2 "
            "rx_name=beta rx=203.0.113.9:14369 rx_chan_count=2 tx_param=4660 size=228 "
            "src=127.0.0.1:7002");
  EXPECT_EQ(Received(Datagram(replies.v.begin(), replies.v.end())),
            "recv v slot_port=14369 tx_name=alpha tx=198.51.100.7:14369 tx_chan_count=2 "
            "rx_name=beta rx=203.0.113.9:6000 rx_chan_count=2 tx_param=4660 size=228 "
            "src=127.0.0.1:7002");
  const RouteReplies refused =
      BuildRouteReplies(std::span<const uint8_t, 228>(request.data(), 228), 0);
  EXPECT_TRUE(
      Received(Datagram(refused.u.begin(), refused.u.end())).starts_with("recv u slot_port=0 "));
}

TEST(DatagramText, ReleaseNoticesShowTheAllocatedChannels) {
  CRouteInfo stored = AlphaToBeta();
  stored.set_tx_chans({3, 4, 0, 0, 0, 0, 0, 0});
  const RoutePacket t = BuildReleaseNotice(stored, 't');
  EXPECT_EQ(Received(Datagram(t.begin(), t.end())),
            "recv t tx_name=alpha tx=198.51.100.7:5000 tx_chan_count=2 tx_chans=3/4 rx_name=beta "
            "rx=203.0.113.9:6000 rx_chan_count=2 tx_param=4660 size=228 src=127.0.0.1:7002");
  const RoutePacket s = BuildReleaseNotice(CRouteInfo(), 's');  // a slot that was free
  EXPECT_EQ(Received(Datagram(s.begin(), s.end())),
            "recv s tx_name= tx=0.0.0.0:0 tx_chan_count=0 tx_chans= rx_name= rx=0.0.0.0:0 "
            "rx_chan_count=0 tx_param=0 size=228 src=127.0.0.1:7002");
}

TEST(DatagramText, WhatTheClientSends) {
  ClientRecord self;
  self.set_name("alpha");
  EXPECT_EQ(Sent(BuildRecordPacket('e', self)),
            "sent e name=alpha p2p=0.0.0.0:0 size=120 dst=127.0.0.1:7002");
  EXPECT_EQ(Sent(BuildRecordPacket('i', kAlpha)),
            "sent i name=alpha p2p=10.1.2.3:4000 size=120 dst=127.0.0.1:7002");
  EXPECT_EQ(Sent(BuildConnectRequest(self, "beta")),
            "sent p name=alpha to=beta size=152 dst=127.0.0.1:7002");
  EXPECT_EQ(Sent(BuildRouteRequest(self, AlphaToBeta())),
            "sent r name=alpha tx_name=alpha tx=198.51.100.7:5000 tx_chan_count=2 rx_name=beta "
            "rx=203.0.113.9:6000 rx_chan_count=2 tx_param=4660 size=228 dst=127.0.0.1:7002");
  EXPECT_EQ(Sent(BuildRouteRelease(self, 14367)),
            "sent x name=alpha slot_port=14367 size=228 dst=127.0.0.1:7002");
  EXPECT_EQ(DescribeDatagram(Direction::kSent, BuildRecordPacket('w', self),
                             {NetworkAddress(127, 0, 0, 1), 14367}),
            "sent w name=alpha size=120 dst=127.0.0.1:14367");
}

TEST(DatagramText, MalformedAndUnknownDatagrams) {
  Datagram shortG = BuildRecordPacket('g', kAlpha);
  shortG.resize(119);
  EXPECT_EQ(Received(shortG), "recv junk size=119 src=127.0.0.1:7002");
  Datagram upper = BuildRecordPacket('g', kAlpha);
  upper[0] = 'P';
  upper[1] = 'R';
  EXPECT_EQ(Received(upper), "recv junk size=120 src=127.0.0.1:7002");
  Datagram shortU = BuildRecordPacket('u', kAlpha);  // a route reply needs 228 bytes
  EXPECT_EQ(Received(shortU), "recv junk size=120 src=127.0.0.1:7002");
  EXPECT_EQ(Received(BuildRecordPacket('z', kAlpha)), "recv z size=120 src=127.0.0.1:7002");
  EXPECT_EQ(Received(BuildRecordPacket(0x01, kAlpha)), "recv \\x01 size=120 src=127.0.0.1:7002");
  EXPECT_EQ(Received({}), "recv junk size=0 src=127.0.0.1:7002");
}

TEST(DatagramText, NamesAreEscapedSoLinesSplitOnSpaces) {
  EXPECT_EQ(FieldText("Alpha-1_x"), "Alpha-1_x");
  EXPECT_EQ(FieldText(std::string_view("a b,c=d\\e\x01\xff", 11)),
            "a\\x20b\\x2cc\\x3dd\\x5ce\\x01\\xff");
  ClientRecord odd;
  odd.set_name("my dev");
  EXPECT_EQ(Received(BuildRecordPacket('h', odd)),
            "recv h count=1 names=my\\x20dev addrs=0.0.0.0:0 size=120 src=127.0.0.1:7002");
}

}  // namespace
}  // namespace halvyn
