// How a thread that stops a worker waits for it to end. The window thread
// must keep serving the worker's synchronous notices while it waits, or a
// worker blocked handing one over could never see its stop request.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/message_queue.h"

namespace halvyn {

class StopWaiter {
 public:
  virtual ~StopWaiter() = default;
  // Stopping thread: returns when done() holds or timeoutMs has passed; the result is done().
  virtual bool WaitUntil(const std::function<bool()>& done, int timeoutMs) = 0;
  // Any thread: done() may have changed; a waiting WaitUntil checks it again.
  virtual void Wake() = 0;
};

// Waits without serving anything: for threads that are not the window thread.
class PlainStopWaiter final : public StopWaiter {
 public:
  bool WaitUntil(const std::function<bool()>& done, int timeoutMs) override;
  void Wake() override;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  unsigned wakes_ = 0;
};

// The window thread's wait: runs the messages that workers send (not those
// posted) while it waits, so a worker blocked in Send can go on.
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
