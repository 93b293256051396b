#include "console/web/header_deadlines.h"

namespace halvyn {

void HeaderDeadlines::Waiting(int fd, Clock::time_point now) {
  MutexLock lock(mutex_);
  waitingSince_[fd] = now;
}

void HeaderDeadlines::Forget(int fd) {
  MutexLock lock(mutex_);
  waitingSince_.erase(fd);
}

int HeaderDeadlines::CutOverdue(Clock::time_point now, const std::function<void(int fd)>& cut) {
  MutexLock lock(mutex_);
  int count = 0;
  for (auto it = waitingSince_.begin(); it != waitingSince_.end();) {
    if (now - it->second < limit_) {
      ++it;
      continue;
    }
    cut(it->first);
    ++count;
    it = waitingSince_.erase(it);
  }
  return count;
}

}  // namespace halvyn
