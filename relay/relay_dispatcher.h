// Handles one received relay datagram completely: its replies, broadcasts and
// console notices. Runs on the relay receive thread (or a test's thread).
#pragma once

#include <cstdint>
#include <span>

#include "platform/datagram_sender.h"
#include "platform/ipv4.h"
#include "platform/mutex.h"
#include "platform/tick_count.h"
#include "relay/client_table.h"
#include "relay/relay_notices.h"

namespace halvyn {

class RelayDispatcher {
 public:
  // clientTableLock is the run's lock: taken around Add ("e"), Remove ("f"),
  // Find ("i", "p") and the whole keep-alive ("k"). routes may be null.
  RelayDispatcher(ClientTable& table, Mutex& clientTableLock, const DatagramSender& socket,
                  RelayNotices& notices, RouteCommands* routes, const TickClock& clock);

  // datagram is the received bytes (modified in place: byte 35 is zeroed and
  // "e" becomes "g"); source is where it came from.
  void Handle(std::span<uint8_t> datagram, Ipv4Endpoint source);

 private:
  void Login(std::span<uint8_t> packet, Ipv4Endpoint source);
  void Logout(std::span<uint8_t> packet);
  void Info(std::span<uint8_t> packet);
  void KeepAlive(std::span<uint8_t> packet, Ipv4Endpoint source);
  void Connect(std::span<uint8_t> packet);

  ClientTable& table_;
  Mutex& clientTableLock_;
  const DatagramSender& socket_;
  RelayNotices& notices_;
  RouteCommands* routes_;
  const TickClock& clock_;
};

}  // namespace halvyn
