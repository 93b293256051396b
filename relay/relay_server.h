// The relay server's lifecycle: Start binds the relay socket and starts the
// receive thread, the sweeper and the list pacer (Workers); Stop asks them to
// stop: the receive thread's stop closes the socket.
//
// Window thread only (Start, Stop, BroadcastClientList, running). Each run owns
// its socket, its client-table lock and its threads; Stop waits for the
// threads while serving the window's sent notices (the receive thread may be
// waiting in one), joins them and frees the run, so a Start right after a Stop
// gets a fresh socket and lock that nothing of the old run touches.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/message_queue.h"
#include "platform/tick_count.h"
#include "relay/client_table.h"
#include "relay/liveness_sweep.h"
#include "relay/relay_counters.h"
#include "relay/relay_limits.h"
#include "relay/relay_notices.h"

namespace halvyn {

struct RelayTiming {
  uint32_t sweepIntervalMs = kSweepIntervalMs;
  uint32_t silenceLimitMs = kSilenceLimitMs;
};

class RelayServer {
 public:
  // Every run counts in counters, which must outlive the server.
  RelayServer(ClientTable& table, RelayNotices& notices, RouteCommands* routes,
              const TickClock& clock, WindowMessageQueue& window, RelayCounters& counters,
              RelayTiming timing = {}, RelayLimits limits = {});
  ~RelayServer();
  RelayServer(const RelayServer&) = delete;
  RelayServer& operator=(const RelayServer&) = delete;

  // Binds 0.0.0.0:port and starts the threads. Returns 0, or the errno of the
  // failed socket or bind (nothing then runs).
  int Start(uint16_t port);
  // Ends the run, if there is one.
  void Stop();
  bool running() const { return run_ != nullptr; }
  // The port the current run is bound to (0 when stopped); Start(0) picks one.
  uint16_t boundPort() const;

  // The "h" list to every client, on this run's socket (nothing when stopped),
  // paced with the run's other lists.
  void BroadcastClientList();
  void SetRouteCommands(RouteCommands* routes) { routes_ = routes; }
  // The limits of the next run (see relay_limits.h).
  void SetLimits(const RelayLimits& limits) { limits_ = limits; }

 private:
  struct Run;

  ClientTable& table_;
  RelayNotices& notices_;
  RouteCommands* routes_;
  const TickClock& clock_;
  WindowMessageQueue& window_;
  RelayCounters& counters_;
  RelayTiming timing_;
  RelayLimits limits_;
  std::unique_ptr<Run> run_;
};

}  // namespace halvyn
