#include "routes/route_packets.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/routes/route_fakes.h"

namespace halvyn {
namespace {

using testing::AlphaToBetaRequest;
using testing::Bytes;
using testing::RouteRequestPacket;

std::vector<uint8_t> Slice(std::span<const uint8_t> bytes, size_t from, size_t count) {
  return {bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(from + count)};
}

TEST(RouteInfoTest, ReadsEveryFieldAtItsOffsetAndOrder) {
  std::array<uint8_t, route_info::kSize> bytes{};
  const std::vector<uint8_t> fields[] = {Bytes({0x34, 0x12}),
                                         Bytes({198, 51, 100, 7}),
                                         Bytes({0x88, 0x13}),
                                         Bytes({3}),
                                         Bytes({5, 9, 17, 0, 0, 0, 0, 0}),
                                         Bytes({203, 0, 113, 9}),
                                         Bytes({0x70, 0x17}),
                                         Bytes({2})};
  const size_t offsets[] = {2, 4, 8, 11, 12, 24, 28, 31};
  for (size_t i = 0; i < std::size(offsets); ++i) {
    std::copy(fields[i].begin(), fields[i].end(), bytes.begin() + std::ptrdiff_t(offsets[i]));
  }
  std::copy_n("alpha", 5, bytes.begin() + 44);
  std::fill_n(bytes.begin() + 76, 32, uint8_t{'b'});  // no terminating zero

  const CRouteInfo record{bytes};
  EXPECT_EQ(record.tx_param(), 0x1234);
  EXPECT_EQ(DottedText(record.tx_ip()), "198.51.100.7");
  EXPECT_EQ(record.tx_port(), 5000);
  EXPECT_EQ(record.tx_chan_count(), 3);
  EXPECT_EQ(record.tx_chans(), (ChannelList{5, 9, 17, 0, 0, 0, 0, 0}));
  EXPECT_EQ(DottedText(record.rx_ip()), "203.0.113.9");
  EXPECT_EQ(record.rx_port(), 6000);
  EXPECT_EQ(record.rx_chan_count(), 2);
  EXPECT_EQ(record.tx_name(), "alpha");
  EXPECT_EQ(record.rx_name(), std::string(32, 'b'));  // stops at the field's end
}

TEST(RouteInfoTest, SettersWritePortsLeastSignificantByteFirst) {
  CRouteInfo record;
  record.set_tx_port(14369);
  record.set_rx_port(30000);
  record.set_tx_ip(NetworkAddress(1, 2, 3, 4));
  EXPECT_EQ(Slice(record.bytes(), 4, 6), Bytes({1, 2, 3, 4, 0x21, 0x38}));
  EXPECT_EQ(Slice(record.bytes(), 28, 2), Bytes({0x30, 0x75}));
}

TEST(RouteInfoTest, LongNameKeepsThirtyOneBytesAndItsZero) {
  CRouteInfo record;
  record.set_tx_name(std::string(40, 'n'));
  EXPECT_EQ(record.tx_name(), std::string(31, 'n'));
  EXPECT_EQ(record.bytes()[44 + 31], 0);
  EXPECT_EQ(record.bytes()[76], 0);
}

TEST(RouteRepliesTest, UAndVCarryTheSlotPortInTheOtherEndpointsPortField) {
  const CRouteInfo body = AlphaToBetaRequest(2);
  const auto request = RouteRequestPacket(body, 0x5A);
  const RouteReplies replies = BuildRouteReplies(std::span(request).first<228>(), 14368);

  std::vector<uint8_t> expectedU = request;
  std::fill(expectedU.begin() + 4, expectedU.begin() + 120, uint8_t{0});
  std::vector<uint8_t> expectedV = expectedU;
  expectedU[2] = 'u';
  expectedU[120 + 28] = 0x20;  // rx_port := 14368
  expectedU[120 + 29] = 0x38;
  expectedV[2] = 'v';
  expectedV[120 + 8] = 0x20;  // tx_port := 14368
  expectedV[120 + 9] = 0x38;

  EXPECT_EQ(std::vector<uint8_t>(replies.u.begin(), replies.u.end()), expectedU);
  EXPECT_EQ(std::vector<uint8_t>(replies.v.begin(), replies.v.end()), expectedV);
}

TEST(RouteRepliesTest, RefusalCarriesSlotPortZero) {
  const auto request = RouteRequestPacket(AlphaToBetaRequest(9));
  const RouteReplies replies = BuildRouteReplies(std::span(request).first<228>(), 0);
  EXPECT_EQ(Slice(replies.u, 120 + 8, 2), Bytes({0x88, 0x13}));  // tx_port as requested
  EXPECT_EQ(Slice(replies.u, 120 + 28, 2), Bytes({0, 0}));
  EXPECT_EQ(Slice(replies.v, 120 + 8, 2), Bytes({0, 0}));
  EXPECT_EQ(Slice(replies.v, 120 + 28, 2), Bytes({0x70, 0x17}));  // rx_port as requested
}

TEST(RouteReleaseNoticeTest, CarriesTheStoredRecordWithZeroHeaderBytes) {
  CRouteInfo record = AlphaToBetaRequest(2);
  record.set_tx_chans({3, 4, 0, 0, 0, 0, 0, 0});
  const RoutePacket t = BuildReleaseNotice(record, route_packet::kTxRelease);
  EXPECT_EQ(Slice(t, 0, 3), Bytes({'p', 'r', 't'}));
  EXPECT_TRUE(std::all_of(t.begin() + 3, t.begin() + 120, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(Slice(t, 120, 108), Slice(record.bytes(), 0, 108));
  EXPECT_EQ(Slice(t, 132, 8), Bytes({3, 4, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(BuildReleaseNotice(record, route_packet::kRxRelease)[2], 's');
}

TEST(RouteReleaseSlotPortTest, NeedsBothBytesOfTheSlotPort) {
  EXPECT_EQ(ReleaseSlotPort(testing::ReleasePacket(14368, 122)), 14368);
  EXPECT_EQ(ReleaseSlotPort(testing::ReleasePacket(14368, 121)), std::nullopt);
  EXPECT_EQ(ReleaseSlotPort(testing::ReleasePacket(14368, 120)), std::nullopt);
}

TEST(PortProbeTest, NeedsOneHundredTwentyBytesAndLetterWOnly) {
  std::vector<uint8_t> probe(120, 0);
  probe[2] = 'w';
  EXPECT_TRUE(IsPortProbe(probe));  // the first two bytes are not examined
  EXPECT_FALSE(IsPortProbe(std::span(probe).first(119)));
  probe[2] = 'W';
  EXPECT_FALSE(IsPortProbe(probe));
}

}  // namespace
}  // namespace halvyn
