#include "devicelink/stop_waiter.h"

#include <chrono>

namespace halvyn {

bool PlainStopWaiter::WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  for (;;) {
    const unsigned seen = wakes_;
    lock.unlock();
    if (done()) return true;
    lock.lock();
    if (wakes_ != seen) continue;
    if (!changed_.wait_until(lock, deadline, [&] { return wakes_ != seen; })) {
      lock.unlock();
      return done();
    }
  }
}

void PlainStopWaiter::Wake() {
  std::lock_guard lock(mutex_);
  ++wakes_;
  changed_.notify_all();
}

}  // namespace halvyn
