// The window thread's message queue.
//
// Send runs a message on the window thread and waits until it has run; Post
// queues it and returns. Messages run in the order they were queued, sent and
// posted alike. Once the window has ended (End), both return false at once
// without running anything, so no worker can hang on a dead window.
//
// Run, WaitPumpingSent and End are for the window thread; Send and Post for
// any thread (a Send from the window thread runs the message inline).
//
// A worker that posts many notices in a burst may hold its wakes (HeldWakes):
// its posts keep their order, but they enter the queue together, under one
// lock and with one wake of the window thread, when the hold ends (or before
// the worker's next Send, so the order with its sent messages is kept too).
// A busy worker and the window then do not trade the processor per notice.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <thread>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace halvyn {

class WindowMessageQueue {
 public:
  using Message = std::function<void()>;

  bool Send(Message message) EXCLUDES(mutex_);
  bool Post(Message message) EXCLUDES(mutex_);

  // Serves messages on the calling thread, which becomes the window thread,
  // until End is called.
  void Run() EXCLUDES(mutex_);

  // Runs on the window thread each time Run has emptied the queue, before it
  // waits for more: work that a burst of messages shares (null: none). Set it
  // before Run, or from the window thread.
  void SetIdleHandler(Message idle);
  // True while Run serves messages.
  bool running() const { return running_.load(std::memory_order_acquire); }

  // Makes the calling thread the window thread without serving (for tests and
  // for start-up work that runs before Run).
  void BindToCurrentThread() EXCLUDES(mutex_);

  // Waits until done() holds or timeoutMs passes (-1: no limit), running only
  // sent messages meanwhile, so a worker blocked in Send can finish. done() is
  // checked after every sent message and whenever Wake is called. Returns done().
  // Called off the window thread (or after End) it only waits.
  bool WaitPumpingSent(const std::function<bool()>& done, int timeoutMs) EXCLUDES(mutex_);
  // Makes a WaitPumpingSent re-check its condition.
  void Wake() EXCLUDES(mutex_);

  // While the calling thread holds wakes, its Posts wait on that thread and
  // enter the queue at ReleaseWakes, or at its next Send, with one wake.
  // Holds nest (the outermost release queues); use HeldWakes to pair them.
  void HoldWakes();
  void ReleaseWakes() EXCLUDES(mutex_);

  // Ends the window: queued messages are dropped, waiting senders released.
  void End() EXCLUDES(mutex_);
  bool ended() const EXCLUDES(mutex_);

  bool IsWindowThread() const EXCLUDES(mutex_);
  // Messages queued and not yet run (for tests and metrics).
  size_t pending() const EXCLUDES(mutex_);

 private:
  // A sender's message, on its stack until the message has run: running and
  // done are read and written under mutex_ only.
  struct SentMessage {
    Message message;
    bool running = false;  // the window thread is running it: the sender must stay
    bool done = false;
  };
  struct Entry {
    Message posted;
    SentMessage* sent = nullptr;
  };

  // Runs the entry with mutex_ released, and marks a sent one done.
  void RunEntry(Entry& entry) REQUIRES(mutex_);
  // Moves the calling thread's held posts into the queue (drops them once
  // ended). True when some were queued; the caller wakes.
  bool QueueHeldPosts() REQUIRES(mutex_);
  // WaitPumpingSent's wake-up: a Wake since `seen`, the end, or (when it
  // pumps) a sent message waiting.
  bool PumpWaitOver(uint64_t seen, bool pump) const REQUIRES(mutex_);

  mutable Mutex mutex_;
  std::condition_variable windowWake_;  // window thread: new entry or wake
  std::condition_variable senderWake_;  // senders: their message has run or the window ended
  std::deque<Entry> entries_ GUARDED_BY(mutex_);
  bool ended_ GUARDED_BY(mutex_) = false;
  std::atomic<bool> endedFlag_{false};  // ended_, readable without the lock
  uint64_t wakeCount_ GUARDED_BY(mutex_) = 0;
  Message idle_;  // window thread only
  std::atomic<bool> running_{false};
  std::thread::id windowThread_ GUARDED_BY(mutex_);
};

// Holds the calling thread's wakes on a queue for its own lifetime (nothing
// when the queue is null).
class HeldWakes {
 public:
  explicit HeldWakes(WindowMessageQueue* queue) : queue_(queue) {
    if (queue_) queue_->HoldWakes();
  }
  ~HeldWakes() {
    if (queue_) queue_->ReleaseWakes();
  }
  HeldWakes(const HeldWakes&) = delete;
  HeldWakes& operator=(const HeldWakes&) = delete;

 private:
  WindowMessageQueue* queue_;
};

}  // namespace halvyn
