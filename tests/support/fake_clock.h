// A tick clock that tests set by hand.
#pragma once

#include <atomic>

#include "platform/tick_count.h"

namespace halvyn::testing {

class FakeClock final : public TickClock {
 public:
  explicit FakeClock(uint32_t now = 0) : now_(now) {}
  uint32_t Now() const override { return now_.load(); }
  void Set(uint32_t now) { now_.store(now); }
  void Advance(uint32_t ms) { now_.fetch_add(ms); }

 private:
  std::atomic<uint32_t> now_;
};

}  // namespace halvyn::testing
