// The STUN messages of the public address client: the Binding Request it
// sends and the Binding Success Response it accepts. All fields big-endian.
//
// Header, 20 bytes:
//   offset  width  field
//   0       2      message type: 0x0001 Binding Request, 0x0101 Binding Success Response
//   2       2      message length L: attribute bytes after the header
//   4       4      magic cookie 0x2112A442
//   8       12     transaction ID
//
// Attributes lie between offset 20 and 20 + L, each:
//   0       2      type
//   2       2      value length N
//   4       N      value, then padding up to a multiple of 4 bytes
//
// MAPPED-ADDRESS (0x0001) and XOR-MAPPED-ADDRESS (0x0020) value:
//   0       1      not examined
//   1       1      address family, 0x01 for IPv4
//   2       2      port (XORed with 0x2112 in XOR-MAPPED-ADDRESS)
//   4       4      IPv4 address (XORed with 0x2112A442 in XOR-MAPPED-ADDRESS)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "platform/ipv4.h"

namespace halvyn {

namespace stun_message {

inline constexpr size_t kHeaderSize = 20;
inline constexpr size_t kTransactionIdSize = 12;
inline constexpr uint16_t kBindingRequest = 0x0001;
inline constexpr uint16_t kBindingSuccessResponse = 0x0101;
inline constexpr uint32_t kMagicCookie = 0x2112A442;
inline constexpr uint16_t kMappedAddress = 0x0001;
inline constexpr uint16_t kXorMappedAddress = 0x0020;
inline constexpr uint8_t kFamilyIpv4 = 0x01;

inline constexpr size_t kTypeOffset = 0;
inline constexpr size_t kLengthOffset = 2;
inline constexpr size_t kCookieOffset = 4;
inline constexpr size_t kTransactionIdOffset = 8;

inline constexpr size_t kAttributeHeaderSize = 4;
inline constexpr size_t kAttributeTypeOffset = 0;
inline constexpr size_t kAttributeLengthOffset = 2;

inline constexpr size_t kMappedFamilyOffset = 1;
inline constexpr size_t kMappedPortOffset = 2;
inline constexpr size_t kMappedAddressOffset = 4;
inline constexpr size_t kMappedValueSize = 8;

}  // namespace stun_message

// The servers' well-known UDP port.
inline constexpr uint16_t kStunServerPort = 3478;

using StunBindingRequestBytes = std::array<uint8_t, stun_message::kHeaderSize>;

// One draw of a pseudo-random generator; the request keeps its low 8 bits.
using RandomDraw = std::function<uint32_t()>;

// A Binding Request without attributes whose twelve transaction-ID bytes are
// the low bytes of twelve successive draws.
StunBindingRequestBytes BuildStunBindingRequest(const RandomDraw& draw);

// The mapped address of a Binding Success Response: address in network order,
// port in host order. The first MAPPED-ADDRESS or XOR-MAPPED-ADDRESS decides;
// if it is not a complete IPv4 value the response is refused even when a good
// one follows. Other attributes are skipped. Bytes after 20 + L are ignored.
// The transaction ID and cookie of the response are not examined.
// nullopt for anything else. Reads only the datagram's bytes. Pure.
std::optional<Ipv4Endpoint> ParseStunResponse(std::span<const uint8_t> datagram);

inline std::optional<Ipv4Endpoint> ParseStunResponse(const uint8_t* bytes, size_t length) {
  return ParseStunResponse(std::span<const uint8_t>(bytes, length));
}

}  // namespace halvyn
