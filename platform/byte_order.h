// Explicit little- and big-endian loads and stores for wire fields.
//
// Wire records are byte arrays. Every multi-byte field is read and written
// through these helpers with its byte order named at the call, so the code
// is the same on any host and never casts a struct over a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace halvyn {

inline uint16_t LoadLe16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint16_t LoadBe16(const uint8_t* p) {
  return uint16_t((p[0] << 8) | p[1]);
}
inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t LoadBe32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void StoreLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void StoreBe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void StoreBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}

// An IPv4 address "in network order" is the 32-bit value whose bytes in memory
// are the address's octets in dotted order (what the socket layer calls s_addr).
// These two move such a value to and from its four wire bytes.
inline uint32_t LoadNetworkAddress(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void StoreNetworkAddress(uint8_t* p, uint32_t networkOrder) {
  std::memcpy(p, &networkOrder, 4);
}

}  // namespace halvyn
