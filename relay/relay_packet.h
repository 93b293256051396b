// RelayPacket: every datagram of the relay protocol.
//
//   offset width content
//   0      2     "pr" (0x70 0x72)
//   2      1     command letter
//   3      1     count byte ("h": records modulo 256; 0 in "i"/"t"/"s" the server
//                builds; otherwise echoed unchanged)
//   4      116   ClientRecord          (record form, 120 bytes)
//   120    108   CRouteInfo            (route form, 228 bytes)
//
// An "h" list is n record forms back to back in one datagram. A client's "p"
// carries the target's NUL-terminated name from offset 120.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "relay/client_record.h"

namespace halvyn {

namespace relay_packet {

constexpr uint8_t kMagic0 = 0x70;  // 'p'
constexpr uint8_t kMagic1 = 0x72;  // 'r'
constexpr size_t kCommandOffset = 2;
constexpr size_t kCountOffset = 3;
constexpr size_t kHeaderSize = 4;
constexpr size_t kRecordOffset = 4;
constexpr size_t kRecordFormSize = 120;
constexpr size_t kRouteFormSize = 228;
constexpr size_t kMinimumSize = 120;
constexpr size_t kTargetNameOffset = 120;  // "p": the target client's name
// The last byte of the record's name; zeroed on receipt so a name has at most 31 characters.
constexpr size_t kNameTerminatorOffset = kRecordOffset + ClientRecord::kNameCapacity - 1;
// Datagrams longer than this are cut to it on receipt.
constexpr size_t kReceiveBufferSize = 1024;

constexpr uint8_t kLogin = 'e';
constexpr uint8_t kLoginAccepted = 'g';
constexpr uint8_t kClientList = 'h';
constexpr uint8_t kLogout = 'f';
constexpr uint8_t kInfo = 'i';
constexpr uint8_t kKeepAlive = 'k';
constexpr uint8_t kConnect = 'p';
constexpr uint8_t kRouteRequest = 'r';
constexpr uint8_t kRouteRelease = 'x';

// True when the datagram is taken as a RelayPacket at all.
inline bool IsAccepted(std::span<const uint8_t> datagram) {
  return datagram.size() >= kMinimumSize && datagram[0] == kMagic0 && datagram[1] == kMagic1;
}

inline void WriteHeader(uint8_t* p, uint8_t command, uint8_t count) {
  p[0] = kMagic0;
  p[1] = kMagic1;
  p[kCommandOffset] = command;
  p[kCountOffset] = count;
}

}  // namespace relay_packet

}  // namespace halvyn
