// Waits until any of many sockets is readable (epoll), for programs that
// serve many sockets on one thread (the benchmark's load generator).
// One thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/udp_socket.h"

struct epoll_event;

namespace halvyn {

class ReadinessPoller {
 public:
  ReadinessPoller();
  ~ReadinessPoller();
  ReadinessPoller(const ReadinessPoller&) = delete;
  ReadinessPoller& operator=(const ReadinessPoller&) = delete;

  bool valid() const { return fd_ >= 0; }
  // Watches socket for readability; Wait reports it by tag. Returns 0 or the errno.
  int Add(const UdpSocket& socket, uint64_t tag);
  // Waits up to timeoutMs (-1: no limit, 0: only looks) and stores the tags of
  // readable sockets, at most tags.size(). Returns how many (0 on timeout or
  // an interrupted wait).
  size_t Wait(std::span<uint64_t> tags, int timeoutMs);

 private:
  int fd_ = -1;
  std::vector<epoll_event> events_;  // the kernel's event records for one Wait
};

}  // namespace halvyn
