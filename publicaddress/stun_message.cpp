#include "publicaddress/stun_message.h"

#include "platform/wire_reader.h"
#include "platform/wire_writer.h"

namespace halvyn {

using namespace stun_message;

namespace {

// The XOR-MAPPED-ADDRESS port is masked with the cookie's high 16 bits.
constexpr uint16_t kPortMask = uint16_t(kMagicCookie >> 16);

std::optional<Ipv4Endpoint> DecodeMappedValue(uint16_t type, WireReader value) {
  if (value.size() < kMappedValueSize) return std::nullopt;
  if (value.U8(kMappedFamilyOffset) != kFamilyIpv4) return std::nullopt;
  uint16_t port = *value.Be16(kMappedPortOffset);
  uint32_t hostOrder = *value.Be32(kMappedAddressOffset);
  if (type == kXorMappedAddress) {
    port ^= kPortMask;
    hostOrder ^= kMagicCookie;
  }
  return Ipv4Endpoint{HostToNetworkOrder(hostOrder), port};
}

}  // namespace

StunBindingRequestBytes BuildStunBindingRequest(const RandomDraw& draw) {
  StunBindingRequestBytes request{};
  WireWriter writer(request);
  writer.Be16(kTypeOffset, kBindingRequest)
      .Be16(kLengthOffset, 0)
      .Be32(kCookieOffset, kMagicCookie);
  for (size_t i = 0; i < kTransactionIdSize; ++i)
    writer.U8(kTransactionIdOffset + i, uint8_t(draw()));
  return request;
}

std::optional<Ipv4Endpoint> ParseStunResponse(std::span<const uint8_t> datagram) {
  const WireReader header(datagram);
  if (header.size() < kHeaderSize) return std::nullopt;
  if (header.Be16(kTypeOffset) != kBindingSuccessResponse) return std::nullopt;
  const size_t messageLength = *header.Be16(kLengthOffset);
  if (messageLength == 0) return std::nullopt;
  // The attributes, and nothing after them.
  const auto attributes = header.Bytes(kHeaderSize, messageLength);
  if (!attributes) return std::nullopt;

  const WireReader reader(*attributes);
  size_t p = 0;
  while (p < reader.size()) {
    const auto type = reader.Be16(p + kAttributeTypeOffset);
    const auto valueLength = reader.Be16(p + kAttributeLengthOffset);
    if (!type || !valueLength) return std::nullopt;
    const auto value = reader.Bytes(p + kAttributeHeaderSize, *valueLength);
    if (!value) return std::nullopt;
    if (*type == kMappedAddress || *type == kXorMappedAddress) {
      return DecodeMappedValue(*type, WireReader(*value));
    }
    p += kAttributeHeaderSize + ((size_t(*valueLength) + 3) & ~size_t(3));
  }
  return std::nullopt;
}

}  // namespace halvyn
