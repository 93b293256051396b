// The per-address budget of bytes the relay port sends, and a sender that
// keeps to it. Datagrams to loopback are never limited.
//
// Any thread: the receive thread, the list pacer and the window thread all send.
#pragma once

#include <cstddef>
#include <span>

#include "platform/datagram_sender.h"
#include "platform/mutex.h"
#include "platform/tick_count.h"
#include "relay/address_buckets.h"
#include "relay/limit_reporter.h"

namespace halvyn {

class DestinationLimiter {
 public:
  DestinationLimiter(const RelayLimits& limits, const TickClock& clock, LimitReporter& reporter);

  // True when `bytes` more may go to the destination's address now; they are
  // taken from its budget. A refusal is counted and reported.
  bool Allow(Ipv4Endpoint destination, size_t bytes) EXCLUDES(mutex_);

 private:
  const TickClock& clock_;
  LimitReporter& reporter_;
  Mutex mutex_;
  AddressBuckets buckets_ GUARDED_BY(mutex_);
};

// Sends through `socket` only what the limiter allows. A datagram held back is
// reported as not sent.
class LimitedSender final : public DatagramSender {
 public:
  LimitedSender(const DatagramSender& socket, DestinationLimiter& limiter)
      : socket_(socket), limiter_(limiter) {}

  bool SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const override;
  size_t SendToEach(std::span<const uint8_t> datagram,
                    std::span<const Ipv4Endpoint> destinations) const override;

 private:
  const DatagramSender& socket_;
  DestinationLimiter& limiter_;
};

}  // namespace halvyn
