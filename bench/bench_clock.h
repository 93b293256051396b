// The load generator's clock and the stamp it writes into each request so
// the reply tells how long the round trip took.
//
// Stamp layout (12 bytes, little-endian):
//   offset width field
//   0      8     send time, ns on the load generator's steady clock
//   8      4     tag: phase in the top byte, sequence number in the rest
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/byte_order.h"

namespace halvyn::bench {

inline uint64_t NowNs() {
  return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count());
}

constexpr size_t kStampSize = 12;

struct Stamp {
  uint64_t sentNs = 0;
  uint32_t tag = 0;
  uint8_t phase() const { return uint8_t(tag >> 24); }
};

inline void WriteStamp(uint8_t* p, Stamp stamp) {
  StoreLe32(p, uint32_t(stamp.sentNs));
  StoreLe32(p + 4, uint32_t(stamp.sentNs >> 32));
  StoreLe32(p + 8, stamp.tag);
}

inline Stamp ReadStamp(const uint8_t* p) {
  return {uint64_t(LoadLe32(p)) | (uint64_t(LoadLe32(p + 4)) << 32), LoadLe32(p + 8)};
}

inline uint32_t MakeTag(uint8_t phase, uint32_t sequence) {
  return (uint32_t(phase) << 24) | (sequence & 0xFFFFFF);
}

}  // namespace halvyn::bench
