// Milliseconds of CLOCK_MONOTONIC (the clock the server's tick count comes
// from), as a signed count for easy arithmetic.
#pragma once

#include <chrono>
#include <cstdint>

namespace halvyn::testing::soak {

inline int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace halvyn::testing::soak
