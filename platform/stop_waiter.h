// How a thread that stops a worker waits for it to end. The window thread
// must keep serving the worker's synchronous notices while it waits, or a
// worker blocked handing one over could never see its stop request.
#pragma once

#include <condition_variable>
#include <functional>

#include "platform/message_queue.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace halvyn {

class StopWaiter {
 public:
  virtual ~StopWaiter() = default;
  // Stopping thread: returns when done() holds or timeoutMs has passed (-1:
  // no limit); the result is done().
  virtual bool WaitUntil(const std::function<bool()>& done, int timeoutMs) = 0;
  // Any thread: done() may have changed; a waiting WaitUntil checks it again.
  virtual void Wake() = 0;
};

// Waits without serving anything: for threads that are not the window thread.
class PlainStopWaiter final : public StopWaiter {
 public:
  bool WaitUntil(const std::function<bool()>& done, int timeoutMs) override EXCLUDES(mutex_);
  void Wake() override EXCLUDES(mutex_);

 private:
  Mutex mutex_;
  std::condition_variable changed_;
  unsigned wakes_ GUARDED_BY(mutex_) = 0;
};

// The window thread's wait: runs the messages that workers send (not those
// posted) while it waits, so a worker blocked in Send can go on. Off the
// window thread, or once the window has ended, it only waits (see
// WindowMessageQueue::WaitPumpingSent).
class WindowQueueStopWaiter final : public StopWaiter {
 public:
  explicit WindowQueueStopWaiter(WindowMessageQueue& queue) : queue_(queue) {}
  bool WaitUntil(const std::function<bool()>& done, int timeoutMs) override {
    return queue_.WaitPumpingSent(done, timeoutMs);
  }
  void Wake() override { queue_.Wake(); }

 private:
  WindowMessageQueue& queue_;
};

}  // namespace halvyn
