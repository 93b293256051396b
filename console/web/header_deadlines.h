// The deadline for a whole request header. A connection waits for a header
// from the moment it is accepted and again after each answer (keep-alive);
// one that has not delivered a complete header in time is cut, however
// steadily it trickles bytes (an idle timeout alone would never fire then).
//
// Connections are keyed by their descriptor, which stays theirs until Closed.
// Any thread: the HTTP thread reports, a timer thread cuts.
#pragma once

#include <chrono>
#include <functional>
#include <unordered_map>

#include "platform/mutex.h"

namespace halvyn {

class HeaderDeadlines {
 public:
  using Clock = std::chrono::steady_clock;

  explicit HeaderDeadlines(std::chrono::milliseconds limit) : limit_(limit) {}

  // The connection now waits for a request header.
  void Waiting(int fd, Clock::time_point now);
  // Its header is complete, or it is closing (before its descriptor is
  // released): no deadline until it waits again.
  void Forget(int fd);
  // Calls cut for each connection whose header is overdue at now, once each,
  // under the lock that Forget takes, so the descriptor is still the
  // connection's when cut runs. Returns how many were cut.
  int CutOverdue(Clock::time_point now, const std::function<void(int fd)>& cut);

 private:
  const std::chrono::milliseconds limit_;
  Mutex mutex_;
  std::unordered_map<int, Clock::time_point> waitingSince_ GUARDED_BY(mutex_);
};

}  // namespace halvyn
