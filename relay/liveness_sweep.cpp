#include "relay/liveness_sweep.h"

namespace halvyn {

int SweepSilentClients(ClientTable& table, Mutex& clientTableLock, RelayNotices& notices,
                       RelayCounters& counters, uint32_t now, uint32_t limitMs) {
  int dropped = 0;
  int i = 0;
  while (i < table.count()) {
    std::optional<ClientRecord> removed;
    {
      MutexLock lock(clientTableLock);
      removed = table.RemoveIfSilent(i, now, limitMs);
    }
    if (removed) {
      counters.timeouts.Add();
      notices.PostClientTimeout(*removed);  // the next record moved into index i
      ++dropped;
    } else {
      ++i;
    }
  }
  return dropped;
}

void LivenessSweep(ClientTable& table, Mutex& clientTableLock, RelayNotices& notices,
                   RelayCounters& counters, const TickClock& clock,
                   const ManualResetEvent& receiveEnded, uint32_t intervalMs, uint32_t limitMs) {
  while (!receiveEnded.WaitFor(int(intervalMs))) {
    SweepSilentClients(table, clientTableLock, notices, counters, clock.Now(), limitMs);
  }
}

}  // namespace halvyn
