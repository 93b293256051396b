#include "platform/line_input.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace halvyn {

LineInput::LineInput(int fd) : fd_(fd), wakeFd_(eventfd(0, EFD_CLOEXEC)) {}

LineInput::~LineInput() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void LineInput::Interrupt() {
  interrupted_.store(true, std::memory_order_release);
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    // Only the wake-up matters; a full counter already wakes the reader.
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
  }
}

bool LineInput::TakeLine(std::string& line) {
  const size_t end = pending_.find('\n');
  if (end == std::string::npos) return false;
  line.assign(pending_, 0, end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  pending_.erase(0, end + 1);
  return true;
}

LineInput::Status LineInput::ReadLine(std::string& line) {
  while (true) {
    if (interrupted_.load(std::memory_order_acquire)) return Status::kInterrupted;
    if (TakeLine(line)) return Status::kLine;
    if (ended_) {
      if (pending_.empty()) return Status::kEnd;
      line.swap(pending_);
      pending_.clear();
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return Status::kLine;
    }
    pollfd entries[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const nfds_t count = wakeFd_ >= 0 ? 2 : 1;
    if (::poll(entries, count, -1) < 0) {
      if (errno == EINTR) continue;
      ended_ = true;
      continue;
    }
    if (count == 2 && (entries[1].revents & POLLIN)) continue;  // Interrupt() was called
    if (entries[0].revents == 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      ended_ = true;
      continue;
    }
    pending_.append(chunk, size_t(n));
  }
}

}  // namespace halvyn
