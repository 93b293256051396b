// One relay run's defences against hostile input: per-address limits on what
// comes in and on what goes out, and the paced list broadcasts.
//
// Admit* are for the relay receive thread only; sender() and lists() for any
// thread. Nothing here waits for another thread.
#pragma once

#include <cstdint>

#include "platform/datagram_sender.h"
#include "platform/tick_count.h"
#include "relay/address_buckets.h"
#include "relay/client_table.h"
#include "relay/destination_limiter.h"
#include "relay/limit_reporter.h"
#include "relay/list_broadcaster.h"
#include "relay/relay_limits.h"
#include "relay/relay_notices.h"

namespace halvyn {

class RelayDefences {
 public:
  // socket is the run's relay socket, on which lists go out; replies, when
  // given, is where every other datagram goes (the receive batch's queue).
  // Refusals and lists are counted in counters. Every reference must outlive this.
  RelayDefences(const ClientTable& table, const DatagramSender& socket, RelayNotices& notices,
                const TickClock& clock, const RelayLimits& limits, RelayCounters& counters,
                const DatagramSender* replies = nullptr);

  const RelayLimits& limits() const { return limits_; }

  // One more datagram from this source address, or false when it is over its rate.
  bool AdmitDatagram(uint32_t source);
  // A new name from this address, which has namesThere logged in already.
  bool AdmitName(uint32_t source, int namesThere);
  // A route request or release from this address; clientThere when a client
  // is logged in from it. Loopback too is held to this rule when it is on.
  bool AdmitRouteCommand(uint32_t source, bool clientThere);

  // The relay socket behind the per-address byte limit.
  const DatagramSender& sender() const { return sender_; }
  ListBroadcaster& lists() { return lists_; }

 private:
  RelayLimits limits_;
  const TickClock& clock_;
  LimitReporter reporter_;
  DestinationLimiter destinations_;
  LimitedSender sender_;
  ListBroadcaster lists_;
  AddressBuckets datagrams_;  // relay receive thread only
};

}  // namespace halvyn
