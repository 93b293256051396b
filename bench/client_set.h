// The load generator's client sockets: many UDP sockets, each with its own
// source port (on 127.0.0.1, or each on an address of its own), served from
// one thread through one poller.
// One thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "platform/readiness_poller.h"
#include "platform/udp_batch.h"
#include "platform/udp_socket.h"

namespace halvyn::bench {

class ClientSet {
 public:
  // Binds count sockets to 127.0.0.1 with ports the kernel picks. Datagrams
  // are read into buffers of receiveSize bytes (longer ones are cut; their
  // whole length is still reported).
  ClientSet(size_t count, size_t receiveSize);
  // The same, socket i bound to addressOf(i) (network order), each with a
  // receive buffer of receiveBufferBytes when that is not 0.
  ClientSet(size_t count, size_t receiveSize, const std::function<uint32_t(size_t)>& addressOf,
            int receiveBufferBytes = 0);

  bool ok() const { return ok_; }
  size_t size() const { return sockets_.size(); }
  const UdpSocket& socket(size_t i) const { return *sockets_[i]; }
  uint16_t port(size_t i) const { return ports_[i]; }
  Ipv4Endpoint endpoint(size_t i) const { return sockets_[i]->LocalEndpoint(); }
  bool OwnsPort(uint16_t port) const;

  // Waits up to timeoutMs for a readable socket (0: only looks), then reads
  // every datagram waiting on the readable ones and hands each to
  // onDatagram(index, stored bytes, whole length). Returns how many.
  template <typename OnDatagram>
  size_t Poll(int timeoutMs, OnDatagram&& onDatagram) {
    const size_t readyCount = poller_.Wait(ready_, timeoutMs);
    size_t total = 0;
    for (size_t r = 0; r < readyCount; ++r) {
      const size_t index = size_t(ready_[r]);
      for (;;) {
        const BatchReceiveResult result = batch_.Receive(*sockets_[index], /*wait=*/false);
        if (result.status != ReceiveResult::Status::kDatagram) break;
        for (size_t k = 0; k < result.count; ++k)
          onDatagram(index, batch_.bytes(k), batch_.length(k));
        total += result.count;
        if (result.count < batch_.capacity()) break;
      }
    }
    return total;
  }

  // Reads and drops datagrams until quietMs pass without one (at most maxMs).
  // Returns how many were dropped.
  size_t Drain(int quietMs, int maxMs);

 private:
  bool ok_ = true;
  std::vector<std::unique_ptr<UdpSocket>> sockets_;
  std::vector<uint16_t> ports_;
  std::vector<uint16_t> ports_sorted_;
  ReadinessPoller poller_;
  ReceiveBatch batch_;
  std::vector<uint64_t> ready_;
};

}  // namespace halvyn::bench
