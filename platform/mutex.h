// A mutex the thread-safety analysis understands, and its scoped lock.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace halvyn {

class CAPABILITY("mutex") Mutex {
 public:
  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  // For condition variables: the underlying standard mutex.
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() RELEASE() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// Waits on a condition variable with a Mutex that the caller holds (through
// a MutexLock), until notified or deadline; the caller re-checks its condition.
template <class TimePoint>
void WaitLocked(Mutex& mutex, std::condition_variable& changed, TimePoint deadline)
    REQUIRES(mutex) {
  std::unique_lock<std::mutex> native(mutex.native(), std::adopt_lock);
  changed.wait_until(native, deadline);
  native.release();  // the caller's MutexLock unlocks it
}

// The same without a deadline: until notified (or a spurious wake-up).
inline void WaitLocked(Mutex& mutex, std::condition_variable& changed) REQUIRES(mutex) {
  std::unique_lock<std::mutex> native(mutex.native(), std::adopt_lock);
  changed.wait(native);
  native.release();
}

}  // namespace halvyn
