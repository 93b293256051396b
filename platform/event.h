// A manual-reset event: once Set, every wait returns until Reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace halvyn {

class ManualResetEvent {
 public:
  void Set() {
    std::lock_guard lock(mutex_);
    set_ = true;
    changed_.notify_all();
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
  }
  bool IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
  }
  // True when the event is set, false when the timeout passed first.
  bool WaitFor(int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return set_; });
  }
  void Wait() const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return set_; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool set_ = false;
};

}  // namespace halvyn
