#include "platform/readiness_poller.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

namespace halvyn {

ReadinessPoller::ReadinessPoller() : fd_(::epoll_create1(EPOLL_CLOEXEC)) {}

ReadinessPoller::~ReadinessPoller() {
  if (fd_ >= 0) ::close(fd_);
}

int ReadinessPoller::Add(const UdpSocket& socket, uint64_t tag) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = tag;
  return ::epoll_ctl(fd_, EPOLL_CTL_ADD, socket.fd(), &event) == 0 ? 0 : errno;
}

size_t ReadinessPoller::Wait(std::span<uint64_t> tags, int timeoutMs) {
  if (tags.empty()) return 0;
  events_.resize(tags.size());
  epoll_event* events = events_.data();
  const int n = ::epoll_wait(fd_, events, int(tags.size()), timeoutMs);
  if (n <= 0) return 0;
  for (int i = 0; i < n; ++i) tags[size_t(i)] = events[i].data.u64;
  return size_t(n);
}

}  // namespace halvyn
