// What the relay receive loop hands route commands to.
#pragma once

#include <cstdint>
#include <span>

#include "platform/datagram_sender.h"
#include "platform/ipv4.h"

namespace halvyn {

class RouteCommandHandler {
 public:
  virtual ~RouteCommandHandler() = default;

  // Relay receive thread, one call at a time. `packet` is the accepted datagram
  // ("pr" checked, byte 35 zeroed), valid for the call only. Replies leave
  // through relaySocket; they go to the endpoints named in the route body,
  // never to `source` as such.
  // "r": the relay passes datagrams of at least 228 bytes; shorter ones are ignored here too.
  virtual void HandleRouteRequest(std::span<const uint8_t> packet, Ipv4Endpoint source,
                                  const DatagramSender& relaySocket) = 0;
  // "x" of at least 120 bytes.
  virtual void HandleRouteRelease(std::span<const uint8_t> packet, Ipv4Endpoint source,
                                  const DatagramSender& relaySocket) = 0;
};

}  // namespace halvyn
