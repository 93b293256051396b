#include "publicaddress/stun_message.h"

#include "platform/byte_order.h"

namespace halvyn {

namespace {

// The XOR-MAPPED-ADDRESS port is masked with the cookie's high 16 bits.
constexpr uint16_t kStunPortMask = uint16_t(kStunMagicCookie >> 16);

std::optional<Ipv4Endpoint> DecodeMappedValue(uint16_t type, const uint8_t* value, size_t size) {
  if (size < kStunMappedValueSize) return std::nullopt;
  if (value[kStunMappedFamilyOffset] != kStunFamilyIpv4) return std::nullopt;
  uint16_t port = LoadBe16(value + kStunMappedPortOffset);
  uint32_t hostOrder = LoadBe32(value + kStunMappedAddressOffset);
  if (type == kStunXorMappedAddress) {
    port ^= kStunPortMask;
    hostOrder ^= kStunMagicCookie;
  }
  return Ipv4Endpoint{HostToNetworkOrder(hostOrder), port};
}

}  // namespace

StunBindingRequestBytes BuildStunBindingRequest(const RandomDraw& draw) {
  StunBindingRequestBytes request{};
  StoreBe16(request.data() + kStunTypeOffset, kStunBindingRequest);
  StoreBe16(request.data() + kStunLengthOffset, 0);
  StoreBe32(request.data() + kStunCookieOffset, kStunMagicCookie);
  for (size_t i = 0; i < kStunTransactionIdSize; ++i) {
    request[kStunTransactionIdOffset + i] = uint8_t(draw());
  }
  return request;
}

std::optional<Ipv4Endpoint> ParseStunResponse(const uint8_t* bytes, size_t length) {
  if (length < kStunHeaderSize) return std::nullopt;
  if (LoadBe16(bytes + kStunTypeOffset) != kStunBindingSuccessResponse) return std::nullopt;
  const size_t messageLength = LoadBe16(bytes + kStunLengthOffset);
  if (length < kStunHeaderSize + messageLength) return std::nullopt;
  if (messageLength == 0) return std::nullopt;

  const size_t end = kStunHeaderSize + messageLength;
  size_t p = kStunHeaderSize;
  while (p < end) {
    if (p + kStunAttributeHeaderSize > end) return std::nullopt;
    const uint16_t type = LoadBe16(bytes + p + kStunAttributeTypeOffset);
    const size_t valueLength = LoadBe16(bytes + p + kStunAttributeLengthOffset);
    const size_t value = p + kStunAttributeHeaderSize;
    if (value + valueLength > end) return std::nullopt;
    if (type == kStunMappedAddress || type == kStunXorMappedAddress) {
      return DecodeMappedValue(type, bytes + value, valueLength);
    }
    p = value + ((valueLength + 3) & ~size_t(3));
  }
  return std::nullopt;
}

}  // namespace halvyn
