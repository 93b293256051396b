// Datagrams the tests put on halvyn's device socket: Binding Success Responses
// built here byte by byte, and device traffic that is not STUN at all.
//
// Response layout (big-endian):
//   0   2   type 0x0101 (0x0111 for an error response)
//   2   2   attribute length L
//   4   4   magic cookie 21 12 A4 42
//   8   12  transaction ID
//   20  L   one attribute: type, value length 8, then
//           reserved, family 0x01, port, IPv4 address
//           (port and address XORed with 0x2112 / 0x2112A442 for type 0x0020)
#pragma once

#include <cstdint>
#include <vector>

#include "platform/byte_order.h"

namespace halvyn::testing {

inline constexpr uint16_t kMappedAddress = 0x0001;
inline constexpr uint16_t kXorMappedAddress = 0x0020;

// A response of messageType with one mapped attribute carrying address (network
// order) and port, padded with zero bytes after 20 + L up to totalSize (when
// larger): the extra bytes are not part of the message.
inline std::vector<uint8_t> MappedAnswer(uint32_t address, uint16_t port,
                                         uint16_t attribute = kXorMappedAddress,
                                         size_t totalSize = 0, uint16_t messageType = 0x0101) {
  std::vector<uint8_t> bytes(32);
  StoreBe16(&bytes[0], messageType);
  StoreBe16(&bytes[2], 12);
  StoreBe32(&bytes[4], 0x2112A442);
  for (size_t i = 8; i < 20; ++i) bytes[i] = uint8_t(0xa0 + i);
  StoreBe16(&bytes[20], attribute);
  StoreBe16(&bytes[22], 8);
  bytes[25] = 0x01;
  if (attribute == kXorMappedAddress) {
    StoreBe16(&bytes[26], uint16_t(port ^ 0x2112));
    StoreNetworkAddress(&bytes[28], address);
    for (size_t i = 0; i < 4; ++i) bytes[28 + i] ^= uint8_t(0x2112A442u >> (24 - 8 * i));
  } else {
    StoreBe16(&bytes[26], port);
    StoreNetworkAddress(&bytes[28], address);
  }
  if (totalSize > bytes.size()) bytes.resize(totalSize, 0);
  return bytes;
}

// What else reaches port 19002: a device's register-write echo and the like.
inline std::vector<uint8_t> DeviceTraffic() {
  std::vector<uint8_t> bytes(70);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
  return bytes;
}

}  // namespace halvyn::testing
