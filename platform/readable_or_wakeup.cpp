#include "platform/readable_or_wakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace halvyn {

ReadableOrWakeup::ReadableOrWakeup() {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) error_ = errno;
}

ReadableOrWakeup::~ReadableOrWakeup() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

ReadableOrWakeup::Result ReadableOrWakeup::Wait(const UdpSocket& socket, int timeoutMs) {
  return WaitOn(socket.fd(), timeoutMs);
}

ReadableOrWakeup::Result ReadableOrWakeup::WaitForWake(int timeoutMs) {
  return WaitOn(-1, timeoutMs);
}

ReadableOrWakeup::Result ReadableOrWakeup::WaitOn(int fd, int timeoutMs) {
  if (wakeFd_ < 0) return Result::kError;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    // poll ignores entries with a negative descriptor, so WaitForWake shares this loop.
    pollfd entries[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
    int wait = timeoutMs;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() > 0 ? int(left.count()) : 0;
    }
    const int ready = ::poll(entries, 2, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return Result::kError;
    }
    if (ready == 0) return Result::kTimeout;
    if (entries[0].revents != 0) return Result::kWoken;
    if (entries[1].revents != 0) return Result::kReadable;
  }
}

void ReadableOrWakeup::Wake() {
  const uint64_t one = 1;
  // The counter only saturates after 2^64 - 2 wakes; a failed write means it is already set.
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void ReadableOrWakeup::Clear() {
  uint64_t value = 0;
  // Non-blocking: EAGAIN when nothing was pending, which is what Clear wants.
  [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &value, sizeof value);
}

}  // namespace halvyn
