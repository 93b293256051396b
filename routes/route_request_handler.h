// The relay-thread side of forward routes: "r" grants a route and answers
// "u"/"v"; "x" hands a release to the window and answers "t"/"s".
//
// Relay receive thread only (one datagram at a time). The route state is
// shared with the window thread through its own lock; no lock is held while
// this class writes registers, pauses, sends or posts.
#pragma once

#include <functional>

#include "relay/relay_counters.h"
#include "routes/client_lookup.h"
#include "routes/port_learning_starter.h"
#include "routes/route_command_handler.h"
#include "routes/route_counters.h"
#include "routes/route_programmer.h"
#include "routes/route_state.h"

namespace halvyn {

class RouteRequestHandler final : public RouteCommandHandler {
 public:
  // Queues the window's release of a slot on the window's queue and returns at
  // once: it must not wait for the window thread.
  using PostRouteReleased = std::function<void(RouteSlot slot)>;

  // All references must outlive the handler. clients is used for the Rx
  // client's current port in "s" and takes the client-table lock itself.
  // Grants and refusals are counted in counters; the replies it sends and the
  // releases it drops, as everything on the relay port, in relayCounters.
  RouteRequestHandler(RouteState& state, const RouteProgrammer& programmer,
                      PortLearningStarter& listeners, ClientLookup clients,
                      PostRouteReleased postRouteReleased, RouteCounters& counters,
                      RelayCounters& relayCounters);

  // Below 228 bytes: nothing. Otherwise, in order: allocation; if granted, the
  // receive and summary blocks into the device selected at the grant (10 ms
  // pause between them) and the start of the slot port's listener; then "u" to
  // the request's Tx endpoint and "v" to its Rx endpoint, carrying the slot
  // port, or 0 when refused (no slot, too few channels, tx_chan_count 0 or > 8).
  void HandleRouteRequest(std::span<const uint8_t> packet, Ipv4Endpoint source,
                          const DatagramSender& relaySocket) override;

  // Below 122 bytes, or a slot port outside 14367..14398: nothing at all.
  // Otherwise copies the slot's record, posts the release of the slot, sends
  // "t" to the record's Tx endpoint and "s" to its rx_ip at the Rx client's
  // current port (the record's rx_port when rx_name is not logged in).
  void HandleRouteRelease(std::span<const uint8_t> packet, Ipv4Endpoint source,
                          const DatagramSender& relaySocket) override;

 private:
  RouteState& state_;
  const RouteProgrammer& programmer_;
  PortLearningStarter& listeners_;
  ClientLookup clients_;
  PostRouteReleased postRouteReleased_;
  RouteCounters& counters_;
  RelayCounters& relayCounters_;
};

}  // namespace halvyn
