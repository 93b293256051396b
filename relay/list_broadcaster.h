// Sends the "h" list to every client when the table changes, within a byte
// budget for lists.
//
// A change when no list has gone out recently is sent at once, on the thread
// that made it (a login gets "g" and then the list, as always). Changes that
// come faster are merged: they mark one list pending, which the pacer thread
// sends when the budget allows, built from the table as it is then, so every
// client ends up holding the current list. After a list of B bytes in all
// (its size times its destinations) the next may go B / budget seconds later.
//
// Clients whose address is over its byte limit are skipped and owed the list:
// the pacer retries them with the current list until they have it or leave.
//
// Any thread may Request. One list is built and sent at a time, so two lists
// never cross on the way to a client.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <vector>

#include "platform/datagram_sender.h"
#include "platform/mutex.h"
#include "platform/tick_count.h"
#include "relay/client_table.h"
#include "relay/destination_limiter.h"
#include "relay/relay_counters.h"

namespace halvyn {

// How often clients held back by their address's byte limit are tried again.
constexpr uint32_t kOwedListRetryMs = 250;

class ListBroadcaster {
 public:
  // limiter may be null (no per-address limit). bytesPerSecond 0: no pacing.
  // Lists sent and merged are counted in counters.
  ListBroadcaster(const ClientTable& table, const DatagramSender& socket,
                  DestinationLimiter* limiter, const TickClock& clock, uint64_t bytesPerSecond,
                  RelayCounters& counters);

  // The table changed: send the list now, or merge into the pending one.
  void Request() EXCLUDES(mutex_);

  // The pacer's step: sends the pending list if its time has come and retries
  // owed clients. Returns the milliseconds until the next step is due, or -1
  // when nothing waits.
  int SendDue() EXCLUDES(mutex_);

  // The pacer thread's body: SendDue whenever something is due, until Stop.
  void RunPacer() EXCLUDES(mutex_);
  void Stop() EXCLUDES(mutex_);

  bool pending() const EXCLUDES(mutex_);

 private:
  // Builds the current list and sends it to `only` (or to every client when
  // null) as far as the byte limits allow. Returns the bytes it stood for.
  uint64_t SendList(const std::vector<Ipv4Endpoint>* only, std::vector<Ipv4Endpoint>& held);
  void FinishSending(uint32_t now, uint64_t bytes, std::vector<Ipv4Endpoint>& held)
      REQUIRES(mutex_);
  bool Allowed(uint32_t now) const REQUIRES(mutex_);
  // Waits for a wake-up or waitMs (-1: no limit) with mutex_ held on entry and exit.
  void WaitForWork(int waitMs) REQUIRES(mutex_);

  const ClientTable& table_;
  const DatagramSender& socket_;
  DestinationLimiter* limiter_;
  const TickClock& clock_;
  const uint64_t bytesPerSecond_;
  RelayCounters& counters_;

  mutable Mutex mutex_;
  std::condition_variable wake_;
  bool sending_ GUARDED_BY(mutex_) = false;
  bool pending_ GUARDED_BY(mutex_) = false;
  bool stopped_ GUARDED_BY(mutex_) = false;
  bool anySent_ GUARDED_BY(mutex_) = false;
  uint32_t nextAllowed_ GUARDED_BY(mutex_) = 0;
  std::vector<Ipv4Endpoint> owed_ GUARDED_BY(mutex_);
  uint32_t nextRetry_ GUARDED_BY(mutex_) = 0;
};

}  // namespace halvyn
