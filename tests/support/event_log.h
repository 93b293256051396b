// An ordered list of what stand-ins saw ("write 2048 24", "pause 10",
// "send u"...), so a test can check the order of writes, pauses and sends
// made through different interfaces. Any thread.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace halvyn::testing {

class EventLog {
 public:
  void Add(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

}  // namespace halvyn::testing
