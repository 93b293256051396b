#include "platform/message_queue.h"

#include <chrono>
#include <utility>
#include <vector>

namespace halvyn {

namespace {

// The calling thread's hold on one queue's wakes: its posts wait here, in
// order, and enter the queue together (under one lock, with one wake) when the
// hold ends or before the thread's next Send.
struct WakeHold {
  const WindowMessageQueue* queue = nullptr;
  int depth = 0;
  std::vector<WindowMessageQueue::Message> posts;
};
thread_local WakeHold heldWakes;

}  // namespace

bool WindowMessageQueue::Send(Message message) {
  if (IsWindowThread()) {
    if (ended()) return false;
    message();
    return true;
  }
  SentMessage sent{std::move(message)};
  MutexLock lock(mutex_);
  if (heldWakes.queue == this) QueueHeldPosts();  // the wake below covers them
  if (ended_) return false;
  entries_.push_back(Entry{nullptr, &sent});
  windowWake_.notify_all();
  while (!sent.done && !(ended_ && !sent.running)) WaitLocked(mutex_, senderWake_);
  return sent.done;
}

bool WindowMessageQueue::Post(Message message) {
  if (heldWakes.queue == this) {
    if (endedFlag_.load(std::memory_order_acquire)) return false;
    heldWakes.posts.push_back(std::move(message));
    return true;
  }
  {
    MutexLock lock(mutex_);
    if (ended_) return false;
    entries_.push_back(Entry{std::move(message), nullptr});
  }
  // Woken after the unlock, so the window thread does not wake only to wait
  // for the lock (on a shared core it would preempt the poster first).
  windowWake_.notify_all();
  return true;
}

bool WindowMessageQueue::QueueHeldPosts() {
  if (heldWakes.posts.empty()) return false;
  const bool queued = !ended_;
  if (queued) {
    for (Message& message : heldWakes.posts) entries_.push_back(Entry{std::move(message), nullptr});
  }
  heldWakes.posts.clear();
  return queued;
}

void WindowMessageQueue::HoldWakes() {
  if (heldWakes.depth > 0 && heldWakes.queue != this) return;  // one queue at a time
  heldWakes.queue = this;
  ++heldWakes.depth;
}

void WindowMessageQueue::ReleaseWakes() {
  if (heldWakes.queue != this || heldWakes.depth == 0) return;
  if (--heldWakes.depth > 0) return;
  bool queued;
  {
    MutexLock lock(mutex_);
    queued = QueueHeldPosts();
  }
  heldWakes.queue = nullptr;
  if (queued) windowWake_.notify_all();
}

void WindowMessageQueue::BindToCurrentThread() {
  MutexLock lock(mutex_);
  windowThread_ = std::this_thread::get_id();
}

void WindowMessageQueue::RunEntry(Entry& entry) {
  if (entry.sent) entry.sent->running = true;
  mutex_.Unlock();
  if (entry.sent) {
    entry.sent->message();
  } else {
    entry.posted();
  }
  mutex_.Lock();
  if (entry.sent) {
    entry.sent->running = false;
    entry.sent->done = true;
    senderWake_.notify_all();
  }
}

void WindowMessageQueue::SetIdleHandler(Message idle) {
  idle_ = std::move(idle);
}

void WindowMessageQueue::Run() {
  BindToCurrentThread();
  running_.store(true, std::memory_order_release);
  mutex_.Lock();
  bool idleRan = true;  // nothing has run yet
  while (!ended_) {
    if (entries_.empty() && idle_ && !idleRan) {
      idleRan = true;
      mutex_.Unlock();
      idle_();
      mutex_.Lock();
      continue;  // the idle work may have queued more
    }
    while (!ended_ && entries_.empty()) WaitLocked(mutex_, windowWake_);
    if (ended_) break;
    Entry entry = std::move(entries_.front());
    entries_.pop_front();
    RunEntry(entry);
    idleRan = false;
  }
  mutex_.Unlock();
  running_.store(false, std::memory_order_release);
}

bool WindowMessageQueue::WaitPumpingSent(const std::function<bool()>& done, int timeoutMs) {
  // Off the window thread nothing may run handlers: wait only.
  const bool pump = IsWindowThread();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  mutex_.Lock();
  for (;;) {
    // Read before done() is asked, so that a Wake coming between done()'s
    // "no" and the wait below still ends the wait.
    const uint64_t seen = wakeCount_;
    mutex_.Unlock();
    if (done()) return true;
    mutex_.Lock();
    auto sent = entries_.end();
    if (pump) {
      sent = entries_.begin();
      while (sent != entries_.end() && sent->sent == nullptr) ++sent;
    }
    if (sent != entries_.end()) {
      Entry entry = std::move(*sent);
      entries_.erase(sent);
      RunEntry(entry);
      continue;
    }
    bool timedOut = false;
    while (!timedOut && !PumpWaitOver(seen, pump)) {
      if (timeoutMs < 0) {
        WaitLocked(mutex_, windowWake_);
      } else if (std::chrono::steady_clock::now() >= deadline) {
        timedOut = true;
      } else {
        WaitLocked(mutex_, windowWake_, deadline);
      }
    }
    if (timedOut || ended_) {
      mutex_.Unlock();
      return done();
    }
  }
}

bool WindowMessageQueue::PumpWaitOver(uint64_t seen, bool pump) const {
  if (wakeCount_ != seen || ended_) return true;
  if (!pump) return false;
  for (const Entry& e : entries_)
    if (e.sent) return true;
  return false;
}

void WindowMessageQueue::Wake() {
  MutexLock lock(mutex_);
  ++wakeCount_;
  windowWake_.notify_all();
}

void WindowMessageQueue::End() {
  MutexLock lock(mutex_);
  ended_ = true;
  endedFlag_.store(true, std::memory_order_release);
  entries_.clear();
  windowWake_.notify_all();
  senderWake_.notify_all();
}

bool WindowMessageQueue::ended() const {
  MutexLock lock(mutex_);
  return ended_;
}

bool WindowMessageQueue::IsWindowThread() const {
  MutexLock lock(mutex_);
  return windowThread_ == std::this_thread::get_id();
}

size_t WindowMessageQueue::pending() const {
  MutexLock lock(mutex_);
  return entries_.size();
}

}  // namespace halvyn
