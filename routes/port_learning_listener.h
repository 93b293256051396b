// The listener of one granted route: waits on the slot port for the Rx
// device's "w" probe and reports the probe's source port once.
//
// The socket is bound before Start returns (on the caller's thread), so the
// slot port is open before "v" tells the Rx device about it. Its own thread
// then receives into a 512-byte buffer: a datagram shorter than 120 bytes or
// without "w" at byte 2 is skipped; a probe is reported and ends the listener;
// a receive error, a datagram longer than the buffer, or Close end it without
// a report. Nothing else stops it: a released route or a newly selected device
// leaves it waiting. When it ends it releases its socket, so the slot port can
// be bound again at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/ipv4.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "platform/udp_socket.h"
#include "platform/worker.h"
#include "routes/route_counters.h"

namespace halvyn {

// Reports (slot port, learnt port in host order) to the window and returns when
// the window thread has handled it. Called on the listener's thread; the
// socket stays bound until it returns.
using PortLearnedReport = std::function<void(uint16_t slotPort, uint16_t learntPort)>;

class PortLearningListener {
 public:
  static constexpr size_t kReceiveBufferSize = 512;

  // Binds a socket to bindAt and starts the thread. Returns null, with the
  // errno of the failure in *bindError, when the bind fails. An oversized
  // datagram is counted in counters, which must outlive the listener.
  static std::unique_ptr<PortLearningListener> Start(uint16_t slotPort, Ipv4Endpoint bindAt,
                                                     PortLearnedReport report,
                                                     RouteCounters& counters, int* bindError);

  // Closes and joins (see Join).
  ~PortLearningListener();
  PortLearningListener(const PortLearningListener&) = delete;
  PortLearningListener& operator=(const PortLearningListener&) = delete;

  uint16_t slotPort() const { return slotPort_; }
  // Where the socket is bound; port 0 once the listener has ended.
  Ipv4Endpoint localEndpoint() const;
  // True once the thread has done its work (a report returns before this is set).
  bool finished() const { return worker_.finished(); }

  // Any thread: asks the listener to stop; its stop shuts the socket down,
  // which wakes a waiting receive, and it ends without a report.
  void Close() { worker_.RequestStop(); }
  // Waits for the thread. Must not be called on the window thread while the
  // window serves messages: a report in progress waits for the window thread.
  void Join();

 private:
  PortLearningListener(uint16_t slotPort, PortLearnedReport report, RouteCounters& counters);
  void Run();
  // The stop's wake: shuts the socket down, if the listener still holds one.
  void CloseSocket() EXCLUDES(mutex_);

  const uint16_t slotPort_;
  const PortLearnedReport report_;
  RouteCounters& counters_;
  mutable Mutex mutex_;
  // Released by the listener's own thread when it ends, so the slot port is
  // free again at once. That thread reads the pointer without the lock: no
  // other thread changes it.
  std::unique_ptr<UdpSocket> socket_ PT_GUARDED_BY(mutex_);
  Worker worker_;
};

}  // namespace halvyn
