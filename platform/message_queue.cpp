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
  std::unique_lock lock(mutex_);
  if (heldWakes.queue == this) QueueHeldPosts();  // the wake below covers them
  if (ended_) return false;
  entries_.push_back(Entry{nullptr, &sent});
  windowWake_.notify_all();
  senderWake_.wait(lock, [&] { return sent.done || (ended_ && !sent.running); });
  return sent.done;
}

bool WindowMessageQueue::Post(Message message) {
  if (heldWakes.queue == this) {
    if (endedFlag_.load(std::memory_order_acquire)) return false;
    heldWakes.posts.push_back(std::move(message));
    return true;
  }
  {
    std::lock_guard lock(mutex_);
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
    std::lock_guard lock(mutex_);
    queued = QueueHeldPosts();
  }
  heldWakes.queue = nullptr;
  if (queued) windowWake_.notify_all();
}

void WindowMessageQueue::BindToCurrentThread() {
  std::lock_guard lock(mutex_);
  windowThread_ = std::this_thread::get_id();
}

void WindowMessageQueue::RunEntry(Entry& entry, std::unique_lock<std::mutex>& lock) {
  if (entry.sent) entry.sent->running = true;
  lock.unlock();
  if (entry.sent) {
    entry.sent->message();
  } else {
    entry.posted();
  }
  lock.lock();
  if (entry.sent) {
    entry.sent->running = false;
    entry.sent->done = true;
    senderWake_.notify_all();
  }
}

void WindowMessageQueue::SetIdleHandler(Message idle) { idle_ = std::move(idle); }

void WindowMessageQueue::Run() {
  BindToCurrentThread();
  running_.store(true, std::memory_order_release);
  std::unique_lock lock(mutex_);
  bool idleRan = true;  // nothing has run yet
  while (!ended_) {
    if (entries_.empty() && idle_ && !idleRan) {
      idleRan = true;
      lock.unlock();
      idle_();
      lock.lock();
      continue;  // the idle work may have queued more
    }
    windowWake_.wait(lock, [&] { return ended_ || !entries_.empty(); });
    if (ended_) break;
    Entry entry = std::move(entries_.front());
    entries_.pop_front();
    RunEntry(entry, lock);
    idleRan = false;
  }
  running_.store(false, std::memory_order_release);
}

bool WindowMessageQueue::WaitPumpingSent(const std::function<bool()>& done, int timeoutMs) {
  // Off the window thread nothing may run handlers: wait only.
  const bool pump = IsWindowThread();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(mutex_);
  for (;;) {
    // Read before done() is asked, so that a Wake coming between done()'s
    // "no" and the wait below still ends the wait.
    const uint64_t seen = wakeCount_;
    lock.unlock();
    if (done()) return true;
    lock.lock();
    auto sent = entries_.begin();
    while (pump && sent != entries_.end() && sent->sent == nullptr) ++sent;
    if (!pump) sent = entries_.end();
    if (sent != entries_.end()) {
      Entry entry = std::move(*sent);
      entries_.erase(sent);
      RunEntry(entry, lock);
      continue;
    }
    auto ready = [&] {
      if (wakeCount_ != seen || ended_) return true;
      if (!pump) return false;
      for (const Entry& e : entries_)
        if (e.sent) return true;
      return false;
    };
    if (timeoutMs < 0) {
      windowWake_.wait(lock, ready);
    } else if (!windowWake_.wait_until(lock, deadline, ready)) {
      lock.unlock();
      return done();
    }
    if (ended_) {
      lock.unlock();
      return done();
    }
  }
}

void WindowMessageQueue::Wake() {
  std::lock_guard lock(mutex_);
  ++wakeCount_;
  windowWake_.notify_all();
}

void WindowMessageQueue::End() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  endedFlag_.store(true, std::memory_order_release);
  entries_.clear();
  windowWake_.notify_all();
  senderWake_.notify_all();
}

bool WindowMessageQueue::ended() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

bool WindowMessageQueue::IsWindowThread() const {
  std::lock_guard lock(mutex_);
  return windowThread_ == std::this_thread::get_id();
}

size_t WindowMessageQueue::pending() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace halvyn
