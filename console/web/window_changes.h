// Tells event streams that the window changed. The window thread bumps the
// version; stream threads wait for a version they have not seen. Any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace halvyn {

class WindowChanges {
 public:
  void Bump() {
    std::lock_guard lock(mutex_);
    ++version_;
    changed_.notify_all();
  }
  void Close() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    changed_.notify_all();
  }
  bool closing() const {
    std::lock_guard lock(mutex_);
    return closing_;
  }
  uint64_t version() const {
    std::lock_guard lock(mutex_);
    return version_;
  }
  // Waits until the version differs from seen, the hub closes, or timeout passes.
  // Returns the version then current.
  uint64_t WaitPast(uint64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return version_ != seen || closing_; });
    return version_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t version_ = 0;
  bool closing_ = false;
};

}  // namespace halvyn
