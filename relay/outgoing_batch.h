// The replies of one receive batch, gathered and sent together: each SendTo
// keeps a copy of the datagram, and Flush hands them all to the kernel in the
// order they were queued, many per system call (sendmmsg).
//
// The receive thread queues while it handles a batch and flushes at its end,
// and before anything that may wait (a notice sent to the window, a list sent
// at once), so no reply waits longer than the handling of its own batch.
// One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/datagram_sender.h"
#include "platform/udp_socket.h"

namespace halvyn {

// Above this many queued bytes a batch is sent before more is queued.
constexpr size_t kOutgoingBatchBytes = 256 * 1024;

class OutgoingBatch final : public DatagramSender {
 public:
  explicit OutgoingBatch(const UdpSocket& socket) : socket_(socket) {}

  // Queues a copy; true (the kernel's verdict comes at Flush).
  bool SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const override;
  size_t SendToEach(std::span<const uint8_t> datagram,
                    std::span<const Ipv4Endpoint> destinations) const override;

  // Sends everything queued, in order. Returns how many the kernel refused.
  size_t Flush() const;
  size_t queued() const { return destinations_.size(); }

 private:
  const UdpSocket& socket_;
  mutable std::vector<uint8_t> bytes_;
  mutable std::vector<size_t> ends_;  // where each datagram's bytes end in bytes_
  mutable std::vector<Ipv4Endpoint> destinations_;
};

}  // namespace halvyn
