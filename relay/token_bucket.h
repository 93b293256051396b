// A token bucket on the 32-bit millisecond tick: `perSecond` tokens flow in,
// up to `capacity`; a cost is taken only when the bucket holds all of it.
#pragma once

#include <algorithm>
#include <cstdint>

namespace halvyn {

class TokenBucket {
 public:
  TokenBucket(uint64_t perSecond, uint64_t capacity, uint32_t now)
      : perSecond_(perSecond), capacity_(capacity), tokens_(double(capacity)), last_(now) {}

  // Takes `cost` tokens and returns true, or takes nothing and returns false.
  bool Take(uint64_t cost, uint32_t now) {
    Refill(now);
    if (tokens_ < double(cost)) return false;
    tokens_ -= double(cost);
    return true;
  }
  // True when the bucket has refilled completely (nothing to remember).
  bool Full(uint32_t now) {
    Refill(now);
    return tokens_ >= double(capacity_);
  }

 private:
  void Refill(uint32_t now) {
    const uint32_t elapsed = now - last_;
    // A tick older than the last one (read by another thread a moment
    // earlier) adds nothing rather than wrapping to weeks.
    if (elapsed > 0x7FFFFFFFu) return;
    last_ = now;
    tokens_ = std::min(double(capacity_), tokens_ + double(elapsed) * double(perSecond_) / 1000.0);
  }

  uint64_t perSecond_;
  uint64_t capacity_;
  double tokens_;
  uint32_t last_;
};

}  // namespace halvyn
