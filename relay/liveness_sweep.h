// The liveness sweep: drops clients that have been silent too long.
#pragma once

#include <cstdint>

#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/tick_count.h"
#include "relay/client_table.h"
#include "relay/relay_counters.h"
#include "relay/relay_notices.h"

namespace halvyn {

// A client is dropped once 24.6 s have passed since its last "e" or "k".
constexpr uint32_t kSilenceLimitMs = 24600;
// The sweeper's pause between sweeps.
constexpr uint32_t kSweepIntervalMs = 3000;

// One sweep at time now: removes, under clientTableLock, every record whose
// unsigned 32-bit (now - last_seen) is at least limitMs, and posts a timeout
// notice with its own copy of each. Sends nothing to the clients (the window
// sends the new list when it handles the notice). Each is counted in
// counters.timeouts. Returns how many went.
int SweepSilentClients(ClientTable& table, Mutex& clientTableLock, RelayNotices& notices,
                       RelayCounters& counters, uint32_t now, uint32_t limitMs = kSilenceLimitMs);

// The sweeper thread's body: sweeps every intervalMs until receiveEnded is
// set, and returns at once when it is.
void LivenessSweep(ClientTable& table, Mutex& clientTableLock, RelayNotices& notices,
                   RelayCounters& counters, const TickClock& clock,
                   const ManualResetEvent& receiveEnded, uint32_t intervalMs = kSweepIntervalMs,
                   uint32_t limitMs = kSilenceLimitMs);

}  // namespace halvyn
