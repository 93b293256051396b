// A thread its owner can stop: the one way every worker of this program runs.
//
// The body gets a std::stop_token and returns once a stop has been asked for.
// A body that blocks (in poll, a receive, a condition variable) names its wake
// at Start: a stop request calls it, on the requesting thread, so the blocked
// wait returns and the body sees the request. A wake typically writes the
// body's eventfd (ReadableOrWakeup::Wake) or shuts its socket down
// (UdpSocket::Close). The wake is armed only while the body runs: a request
// that comes before the body starts calls it at once on the worker's thread,
// one after the body has returned calls nothing.
//
// Threads: Start, Stop, Join and started() are for the owner's thread;
// RequestStop and finished() for any thread.
#pragma once

#include <functional>
#include <initializer_list>
#include <stop_token>
#include <thread>

#include "platform/mutex.h"
#include "platform/stop_waiter.h"
#include "platform/thread_annotations.h"

namespace halvyn {

class Worker {
 public:
  using Body = std::function<void(std::stop_token stop)>;
  using Wake = std::function<void()>;

  Worker() = default;
  // RequestStop, then Join: waits as long as the body takes.
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Runs body on a new thread, with wake as its stop callback (none when
  // empty). False when a thread was started before and has not been joined.
  bool Start(Body body, Wake wake = {}) EXCLUDES(mutex_);
  // Asks the body to end and returns at once.
  void RequestStop() { thread_.request_stop(); }
  // RequestStop, then waits through waiter at most timeoutMs (-1: no limit)
  // for the body to return, and joins the thread when it has. True when no
  // thread runs any more (also when none was started); false after the
  // timeout: the thread is left running, for a later Stop or Join.
  bool Stop(StopWaiter& waiter, int timeoutMs);
  // Waits for the thread, however long it takes (nothing when none runs).
  void Join();

  // A thread was started and not yet joined.
  bool started() const { return thread_.joinable(); }
  // The body of the last Start has returned.
  bool finished() const EXCLUDES(mutex_);

 private:
  friend bool StopWorkers(std::initializer_list<Worker*> workers, StopWaiter& waiter,
                          int timeoutMs);

  void SetWaiter(StopWaiter* waiter) EXCLUDES(mutex_);
  void Finish() EXCLUDES(mutex_);

  mutable Mutex mutex_;
  bool finished_ GUARDED_BY(mutex_) = false;
  StopWaiter* waiter_ GUARDED_BY(mutex_) = nullptr;  // a waiting Stop's, woken at the end
  std::jthread thread_;
};

// Stops workers together: asks each to stop, in the order given, then waits
// through waiter at most timeoutMs (-1: no limit) until all have ended, and
// joins them. True when all have ended; false after the timeout, with every
// thread left running (a later Stop or Join ends them).
//
// On the window thread pass a WindowQueueStopWaiter: a worker blocked in the
// window's Send is then served and can see its stop.
bool StopWorkers(std::initializer_list<Worker*> workers, StopWaiter& waiter, int timeoutMs);

}  // namespace halvyn
