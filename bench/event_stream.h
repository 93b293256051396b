// A console event stream (GET /api/events) read on its own thread, as a page
// reads it: the text seen so far is kept and searched, or (for long loads)
// only counted.
#pragma once

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "bench/bench_clock.h"

namespace halvyn::bench {

class EventStream {
 public:
  enum class Keep { kText, kCount };

  explicit EventStream(uint16_t port, Keep keep = Keep::kText)
      : client_("127.0.0.1", port), keep_(keep) {
    client_.set_read_timeout(5, 0);
    thread_ = std::thread([this] {
      client_.Get("/api/events", [this](const char* data, size_t size) {
        std::lock_guard lock(mutex_);
        if (keep_ == Keep::kText) text_.append(data, size);
        received_ += size;
        changed_.notify_all();
        return !stopping_;
      });
    });
  }
  ~EventStream() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    client_.stop();
    thread_.join();
  }
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;

  // Waits until text appears after offset `from`; returns the receipt time in
  // ns, or 0 after timeoutMs. With Keep::kCount, any byte counts as the text.
  uint64_t WaitFor(const std::string& text, size_t from, int timeoutMs) {
    std::unique_lock lock(mutex_);
    const bool seen = changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      if (keep_ == Keep::kCount) return received_ > from;
      return text_.find(text, std::min(from, text_.size())) != std::string::npos;
    });
    return seen ? NowNs() : 0;
  }
  // Bytes received so far.
  size_t size() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  httplib::Client client_;
  const Keep keep_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
  size_t received_ = 0;
  bool stopping_ = false;
};

}  // namespace halvyn::bench
