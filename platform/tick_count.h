// The 32-bit millisecond tick count and the clock interface that logic takes.
#pragma once

#include <cstdint>

namespace halvyn {

// Milliseconds since an arbitrary start, from CLOCK_MONOTONIC; wraps every
// 49.7 days. Compare two ticks only by their unsigned 32-bit difference.
uint32_t TickCount();

// Where logic gets "now"; tests give it a clock they control.
class TickClock {
 public:
  virtual ~TickClock() = default;
  virtual uint32_t Now() const = 0;
};

class MonotonicTickClock final : public TickClock {
 public:
  uint32_t Now() const override { return TickCount(); }
};

// Pauses the calling thread.
void SleepMilliseconds(uint32_t milliseconds);

}  // namespace halvyn
