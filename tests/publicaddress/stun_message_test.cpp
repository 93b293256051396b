#include "publicaddress/stun_message.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/publicaddress/stun_samples.h"

namespace halvyn {
namespace {

using testing::kRfc5769Ipv4Response;
using testing::kRfc5769Ipv6Response;

struct Attribute {
  uint16_t type;
  std::vector<uint8_t> value;
};

// A STUN message of the given type with the attributes padded to 4 bytes and
// the length field counting them.
std::vector<uint8_t> Message(uint16_t type, const std::vector<Attribute>& attributes) {
  std::vector<uint8_t> bytes = {uint8_t(type >> 8), uint8_t(type), 0, 0, 0x21, 0x12, 0xa4, 0x42};
  for (int i = 0; i < 12; ++i) bytes.push_back(uint8_t(0x30 + i));
  for (const Attribute& a : attributes) {
    bytes.push_back(uint8_t(a.type >> 8));
    bytes.push_back(uint8_t(a.type));
    bytes.push_back(uint8_t(a.value.size() >> 8));
    bytes.push_back(uint8_t(a.value.size()));
    bytes.insert(bytes.end(), a.value.begin(), a.value.end());
    while (bytes.size() % 4 != 0) bytes.push_back(0);
  }
  const size_t length = bytes.size() - 20;
  bytes[2] = uint8_t(length >> 8);
  bytes[3] = uint8_t(length);
  return bytes;
}

std::vector<uint8_t> Response(const std::vector<Attribute>& attributes) {
  return Message(0x0101, attributes);
}

// 203.0.113.5 port 7002 as MAPPED-ADDRESS and as XOR-MAPPED-ADDRESS.
const Attribute kMapped = {0x0001, {0x00, 0x01, 0x1b, 0x5a, 203, 0, 113, 5}};
const Attribute kXorMapped = {
    0x0020, {0x00, 0x01, 0x1b ^ 0x21, 0x5a ^ 0x12, 203 ^ 0x21, 0 ^ 0x12, 113 ^ 0xa4, 5 ^ 0x42}};
const Ipv4Endpoint kExpected = {NetworkAddress(203, 0, 113, 5), 7002};

const Attribute kSoftware = {0x8022, {'h', 'e', 'l', 'l', 'o'}};

std::optional<Ipv4Endpoint> Parse(const std::vector<uint8_t>& bytes) {
  // An exactly sized copy lets the address sanitizer catch any read past the end.
  const std::vector<uint8_t> exact(bytes);
  return ParseStunResponse(exact.data(), exact.size());
}

TEST(StunBindingRequest, IsTwentyBytesWithTheLowByteOfTwelveDraws) {
  uint32_t next = 0x1200;
  const StunBindingRequestBytes request = BuildStunBindingRequest([&] { return next++ * 3; });
  const StunBindingRequestBytes expected = {0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xa4,
                                            0x42, 0x00, 0x03, 0x06, 0x09, 0x0c, 0x0f,
                                            0x12, 0x15, 0x18, 0x1b, 0x1e, 0x21};
  EXPECT_EQ(request, expected);
}

TEST(ParseStunResponse, Rfc5769Ipv4SampleGivesItsMappedAddress) {
  const auto mapped = Parse(kRfc5769Ipv4Response);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(DottedText(mapped->address), "192.0.2.1");
  EXPECT_EQ(mapped->port, 32853);
}

TEST(ParseStunResponse, RealServerResponsesGiveTheirMappedAddress) {
  const Ipv4Endpoint seen = {NetworkAddress(127, 0, 0, 1), 35677};
  EXPECT_EQ(Parse(testing::kCoturnXorMappedResponse), seen);
  EXPECT_EQ(Parse(testing::kCoturnClassicResponse), seen);
}

TEST(ParseStunResponse, MappedAndXorMappedGiveTheSameResult) {
  EXPECT_EQ(Parse(Response({kMapped})), kExpected);
  EXPECT_EQ(Parse(Response({kXorMapped})), kExpected);
}

TEST(ParseStunResponse, SkipsOtherAttributesWithTheirPadding) {
  // SOFTWARE with a 5-byte value occupies 4 + 8 bytes.
  EXPECT_EQ(Parse(Response({kSoftware, kXorMapped})), kExpected);
  // A comprehension-required type that is not a mapped address is skipped too.
  EXPECT_EQ(Parse(Response({{0x0006, {1, 2, 3}}, {0x8028, {1, 2, 3, 4}}, kMapped})), kExpected);
}

TEST(ParseStunResponse, FirstMappedAttributeDecidesWhicheverKind) {
  const Attribute otherMapped = {0x0001, {0x00, 0x01, 0x00, 0x50, 198, 51, 100, 7}};
  EXPECT_EQ(Parse(Response({kXorMapped, otherMapped})), kExpected);
  EXPECT_EQ(Parse(Response({otherMapped, kXorMapped})),
            (Ipv4Endpoint{NetworkAddress(198, 51, 100, 7), 80}));
}

TEST(ParseStunResponse, MalformedFirstMappedAttributeFailsEvenWithAGoodOneAfter) {
  std::vector<uint8_t> ipv6Value(20, 0);
  ipv6Value[1] = 0x02;
  EXPECT_FALSE(Parse(Response({{0x0020, ipv6Value}, kXorMapped})));
  EXPECT_FALSE(Parse(Response({{0x0001, ipv6Value}, kMapped})));
  EXPECT_FALSE(Parse(kRfc5769Ipv6Response));

  const Attribute shortValue = {0x0001, {0x00, 0x01, 0x1b, 0x5a, 203, 0, 113}};
  EXPECT_FALSE(Parse(Response({shortValue, kMapped})));
}

TEST(ParseStunResponse, RefusesHeadersThatAreNotAUsableSuccessResponse) {
  EXPECT_FALSE(Parse(Response({})));  // message length 0

  EXPECT_FALSE(Parse(Message(0x0111, {kMapped})));  // error response
  EXPECT_FALSE(Parse(Message(0x0001, {kMapped})));  // a request

  std::vector<uint8_t> tooLong = Response({kMapped});
  tooLong[3] += 4;  // claims four bytes more than the datagram holds
  EXPECT_FALSE(Parse(tooLong));

  EXPECT_FALSE(Parse(Response({kSoftware})));  // no mapped attribute at all
}

TEST(ParseStunResponse, EveryTruncationOfAValidResponseFails) {
  for (size_t size = 0; size < kRfc5769Ipv4Response.size(); ++size) {
    const std::vector<uint8_t> prefix(kRfc5769Ipv4Response.begin(),
                                      kRfc5769Ipv4Response.begin() + size);
    EXPECT_FALSE(Parse(prefix)) << size << " bytes";
  }
}

TEST(ParseStunResponse, IgnoresBytesAfterTheMessage) {
  std::vector<uint8_t> bytes = Response({kMapped});
  bytes.insert(bytes.end(), {0x00, 0x20, 0x00, 0x08, 0xff, 0xff});
  EXPECT_EQ(Parse(bytes), kExpected);
}

TEST(ParseStunResponse, AttributesMustFitInsideTheMessageLength) {
  // The mapped attribute lies beyond the message length, in trailing bytes.
  std::vector<uint8_t> outside = Response({kSoftware, kMapped});
  outside[3] = 12;
  EXPECT_FALSE(Parse(outside));

  // A value that runs past the end of the message.
  std::vector<uint8_t> longValue = Response({kMapped});
  longValue[23] = 12;
  EXPECT_FALSE(Parse(longValue));

  // Only part of an attribute header is left after the first attribute.
  std::vector<uint8_t> partialHeader = Response({kSoftware});
  partialHeader.insert(partialHeader.end(), {0x00, 0x01});
  partialHeader[3] += 2;
  EXPECT_FALSE(Parse(partialHeader));

  // A last attribute whose padding would lie past the end of the message.
  std::vector<uint8_t> unpadded = Response({kSoftware, kMapped});
  unpadded[3] = 4 + 5;
  EXPECT_FALSE(Parse(unpadded));
}

}  // namespace
}  // namespace halvyn
