#include "relay/relay_server.h"

#include "platform/event.h"
#include "platform/mutex.h"
#include "platform/stop_waiter.h"
#include "platform/udp_socket.h"
#include "platform/worker.h"
#include "relay/relay_dispatcher.h"
#include "relay/relay_receive_loop.h"

namespace halvyn {

struct RelayServer::Run {
  Run(ClientTable& table, RelayNotices& notices, RouteCommands* routes, const TickClock& clock,
      RelayCounters& counters, const RelayLimits& limits)
      : defences(table, socket, notices, clock, limits, counters, &replies),
        dispatcher(table, clientTableLock, socket, notices, routes, clock, counters, &defences,
                   &replies) {}

  UdpSocket socket;
  OutgoingBatch replies{socket};  // the receive thread's replies, sent once per batch
  Mutex clientTableLock;
  RelayDefences defences;
  RelayDispatcher dispatcher;
  // Ends the sweeper: set when the receive loop ends (on its own too) and by
  // the sweeper's stop.
  ManualResetEvent sweepEnd;
  Worker receiver;  // its stop shuts the socket down
  Worker sweeper;
  Worker pacer;  // sends the lists that were merged (see ListBroadcaster)
};

RelayServer::RelayServer(ClientTable& table, RelayNotices& notices, RouteCommands* routes,
                         const TickClock& clock, WindowMessageQueue& window,
                         RelayCounters& counters, RelayTiming timing, RelayLimits limits)
    : table_(table),
      notices_(notices),
      routes_(routes),
      clock_(clock),
      window_(window),
      counters_(counters),
      timing_(timing),
      limits_(limits) {}

RelayServer::~RelayServer() {
  Stop();
}

int RelayServer::Start(uint16_t port) {
  if (run_) return 0;
  auto run = std::make_unique<Run>(table_, notices_, routes_, clock_, counters_, limits_);
  if (const int error = run->socket.Bind({0, port})) return error;
  Run& r = *run;
  if (limits_.receiveBufferBytes != 0) {
    counters_.receiveBufferBytes.store(
        uint32_t(r.socket.RequestReceiveBufferSize(int(limits_.receiveBufferBytes))),
        std::memory_order_relaxed);
  }
  r.receiver.Start(
      [this, &r](std::stop_token) {
        RelayReceiveLoop(r.socket, r.dispatcher, &window_);
        r.sweepEnd.Set();
      },
      [&r] { r.socket.Close(); });
  r.sweeper.Start(
      [this, &r](std::stop_token) {
        LivenessSweep(table_, r.clientTableLock, notices_, counters_, clock_, r.sweepEnd,
                      timing_.sweepIntervalMs, timing_.silenceLimitMs);
      },
      [&r] { r.sweepEnd.Set(); });
  r.pacer.Start([&r](std::stop_token) { r.defences.lists().RunPacer(); },
                [&r] { r.defences.lists().Stop(); });
  counters_.boundPort.store(r.socket.LocalEndpoint().port, std::memory_order_relaxed);
  run_ = std::move(run);
  return 0;
}

void RelayServer::Stop() {
  if (!run_) return;
  Run& r = *run_;
  counters_.boundPort.store(0, std::memory_order_relaxed);
  counters_.receiveBufferBytes.store(0, std::memory_order_relaxed);
  // The receiver's stop closes the socket. The receive thread may be waiting
  // for the window thread to handle a notice it sent: keep serving those until
  // both threads are done. Once the window has ended that wait returns at
  // once, and the joins wait instead (a Send then returns false at once).
  WindowQueueStopWaiter waiter(window_);
  StopWorkers({&r.receiver, &r.sweeper}, waiter, -1);
  r.receiver.Join();
  r.sweeper.Join();
  r.pacer.RequestStop();
  r.pacer.Join();
  run_.reset();
}

uint16_t RelayServer::boundPort() const {
  return run_ ? run_->socket.LocalEndpoint().port : 0;
}

void RelayServer::BroadcastClientList() {
  if (run_) run_->defences.lists().Request();
}

}  // namespace halvyn
