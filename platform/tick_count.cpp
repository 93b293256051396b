#include "platform/tick_count.h"

#include <time.h>

namespace halvyn {

uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
  return uint32_t(ms);  // truncation is the wrap
}

void SleepMilliseconds(uint32_t milliseconds) {
  timespec wait{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0) {
  }
}

}  // namespace halvyn
