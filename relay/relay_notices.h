// What the relay server tells the operator console, and the hand-off of route
// commands to the forward-route subsystem.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/datagram_sender.h"
#include "platform/ipv4.h"
#include "relay/client_record.h"

namespace halvyn {

// Implemented by the window. "Send" notices return only after the window
// thread has handled them; "Post" notices are queued. Records are passed by
// reference and are valid for the call only: a posted notice takes a copy.
class RelayNotices {
 public:
  virtual ~RelayNotices() = default;
  virtual void SendClientLogin(const ClientRecord& record) = 0;
  virtual void SendClientLogout(const ClientRecord& record) = 0;
  virtual void PostClientTimeout(const ClientRecord& record) = 0;
  virtual void PostForwardConnect() = 0;
  virtual void SendClientInfo(const ClientRecord& record) = 0;
  // A line for the message log about a limit that refuses an address (posted).
  virtual void PostLimitLine(std::string /*line*/) {}
};

// Implemented by the forward-route subsystem; runs on the relay receive thread.
// The packet is the received datagram (an "r" is at least 228 bytes); answers
// go out on relaySocket.
class RouteCommands {
 public:
  virtual ~RouteCommands() = default;
  virtual void HandleRouteRequest(std::span<const uint8_t> packet, Ipv4Endpoint source,
                                  const DatagramSender& relaySocket) = 0;
  virtual void HandleRouteRelease(std::span<const uint8_t> packet, Ipv4Endpoint source,
                                  const DatagramSender& relaySocket) = 0;
};

}  // namespace halvyn
