#include "bench/client_set.h"

#include <sys/socket.h>

#include <algorithm>

namespace halvyn::bench {

ClientSet::ClientSet(size_t count, size_t receiveSize)
    : ClientSet(count, receiveSize, [](size_t) { return NetworkAddress(127, 0, 0, 1); }) {}

ClientSet::ClientSet(size_t count, size_t receiveSize,
                     const std::function<uint32_t(size_t)>& addressOf, int receiveBufferBytes)
    : batch_(16, receiveSize, ReceiveBatch::Oversized::kKeepHead),
      ready_(std::max<size_t>(count, 1)) {
  ok_ = poller_.valid();
  for (size_t i = 0; i < count && ok_; ++i) {
    auto socket = std::make_unique<UdpSocket>();
    // Forced past the system's maximum: the benchmark runs as root, and one
    // process stands in for many hosts, each with a buffer of its own.
    if (receiveBufferBytes > 0)
      setsockopt(socket->fd(), SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes,
                 sizeof receiveBufferBytes);
    ok_ = socket->Bind({addressOf(i), 0}) == 0 && poller_.Add(*socket, i) == 0;
    ports_.push_back(socket->LocalEndpoint().port);
    sockets_.push_back(std::move(socket));
  }
  std::vector<uint16_t> sorted = ports_;
  std::sort(sorted.begin(), sorted.end());
  ports_sorted_ = std::move(sorted);
}

bool ClientSet::OwnsPort(uint16_t port) const {
  return std::binary_search(ports_sorted_.begin(), ports_sorted_.end(), port);
}

size_t ClientSet::Drain(int quietMs, int maxMs) {
  const uint64_t end = NowNs() + uint64_t(maxMs) * 1000000;
  size_t dropped = 0;
  while (NowNs() < end) {
    const size_t n = Poll(quietMs, [](size_t, std::span<uint8_t>, size_t) {});
    if (n == 0) break;
    dropped += n;
  }
  return dropped;
}

}  // namespace halvyn::bench
