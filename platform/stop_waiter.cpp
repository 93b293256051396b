#include "platform/stop_waiter.h"

#include <chrono>

namespace halvyn {

bool PlainStopWaiter::WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool limited = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
  for (;;) {
    unsigned seen;
    {
      MutexLock lock(mutex_);
      seen = wakes_;
    }
    // Asked without the lock: done() may take locks that are held while Wake is called.
    if (done()) return true;
    bool timedOut = false;
    {
      MutexLock lock(mutex_);
      while (wakes_ == seen) {
        if (!limited) {
          WaitLocked(mutex_, changed_);
        } else if (Clock::now() < deadline) {
          WaitLocked(mutex_, changed_, deadline);
        } else {
          timedOut = true;
          break;
        }
      }
    }
    if (timedOut) return done();
  }
}

void PlainStopWaiter::Wake() {
  MutexLock lock(mutex_);
  ++wakes_;
  changed_.notify_all();
}

}  // namespace halvyn
