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
#include "relay/outgoing_batch.h"
#include "relay/relay_counters.h"
#include "relay/relay_defences.h"
#include "relay/relay_notices.h"
#include "relay/relay_packet.h"

namespace halvyn {

class RelayDispatcher {
 public:
  // clientTableLock is the run's lock: taken around Add ("e"), Remove ("f"),
  // Find ("i", "p") and the whole keep-alive ("k"). routes may be null.
  // defences may be null (no per-address limits; every list sent at once);
  // with them, every send goes through their limits. batch may be null (each
  // reply sent at once); with it, replies are queued there (the defences must
  // then send their replies into it too) and FlushReplies sends them. What it
  // receives, drops and sends is counted in counters.
  RelayDispatcher(ClientTable& table, Mutex& clientTableLock, const DatagramSender& socket,
                  RelayNotices& notices, RouteCommands* routes, const TickClock& clock,
                  RelayCounters& counters, RelayDefences* defences = nullptr,
                  const OutgoingBatch* batch = nullptr);

  // datagram is the received bytes (modified in place: byte 35 is zeroed and
  // "e" becomes "g"); source is where it came from.
  void Handle(std::span<uint8_t> datagram, Ipv4Endpoint source);
  // Sends the replies queued since the last flush (the end of a receive batch).
  void FlushReplies();
  // The receive loop counts the datagrams it drops before they reach Handle here.
  RelayCounters& counters() const { return counters_; }

 private:
  void Login(MutableRelayPacketView packet, Ipv4Endpoint source);
  void Logout(RelayPacketView packet, Ipv4Endpoint source);
  void Info(RelayPacketView packet, Ipv4Endpoint source);
  void RouteCommand(std::span<uint8_t> packet, Ipv4Endpoint source, bool request);
  void SendClientList();
  void KeepAlive(RelayPacketView packet, Ipv4Endpoint source);
  void Connect(RelayPacketView packet);

  ClientTable& table_;
  Mutex& clientTableLock_;
  RelayDefences* defences_;
  const OutgoingBatch* batch_;
  const DatagramSender& socket_;  // the relay socket, behind the defences' limits when they exist
  RelayNotices& notices_;
  RouteCommands* routes_;
  const TickClock& clock_;
  RelayCounters& counters_;
};

}  // namespace halvyn
