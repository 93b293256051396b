// The discovery listener: a thread that receives the devices' multicast
// announcements and hands each datagram over to the window.
//
// The thread opens its own socket (SO_REUSEADDR, multicast TTL), binds it to
// interface:port and joins the group on that interface. It then waits for
// "datagram or stop" (poll on the socket and a wake-up descriptor) and hands
// each datagram of at least one byte to onDatagram. A bind or join failure
// ends the thread for good (discovery stays off until the program restarts).
//
// Threads: Start, Stop and the destructor are for the owner's thread (the
// window thread); the callbacks run on the listener's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>

#include "devicelink/device_link_constants.h"
#include "platform/ipv4.h"
#include "platform/readable_or_wakeup.h"
#include "platform/stop_waiter.h"
#include "platform/worker.h"

namespace halvyn {

struct DiscoveryListenerConfig {
  uint32_t group = NetworkAddress(224, 0, 0, 222);  // network order
  uint32_t interfaceAddress = 0;  // network order: bind address and the membership's interface
  uint16_t port = kDiscoveryPort;
  int ttl = kDiscoveryTtl;
};

struct DiscoveryListenerCallbacks {
  // A datagram and its source. bytes is the listener's receive buffer, valid
  // only during the call. The window hands it to its thread with a synchronous
  // Send and returns its result: false means the window has ended, and the
  // listener then stops.
  std::function<bool(Ipv4Endpoint source, std::span<const uint8_t> bytes)> onDatagram;
  // Error notices the window receives and drops: (-1, "JoinGroup failed!\n")
  // and (errno, "PostRecv failed.\n") when waiting for a datagram fails.
  std::function<void(int code, const std::string& text)> onNotice;
  // Message boxes for the operator: "Multicast bind failed:<errno>" and
  // "JoinGroup failed". Must not wait for the operator.
  std::function<void(const std::string& text)> showMessage;
};

class DeviceDiscoveryListener {
 public:
  // The longest Stop waits for the listener to end.
  static constexpr int kStopTimeoutMs = 2000;
  // Announcements are 88 bytes; a larger datagram is cut to this and dropped.
  static constexpr size_t kReceiveBufferSize = 1500;

  DeviceDiscoveryListener(DiscoveryListenerConfig config, DiscoveryListenerCallbacks callbacks);
  // Stops (plain wait) and always joins the thread, waiting as long as it
  // takes. If an earlier Stop timed out because onDatagram is blocked, end
  // the window's queue first so that its Send returns.
  ~DeviceDiscoveryListener();
  DeviceDiscoveryListener(const DeviceDiscoveryListener&) = delete;
  DeviceDiscoveryListener& operator=(const DeviceDiscoveryListener&) = delete;

  // Starts the thread. False when it cannot (no wake-up descriptor) or was started before.
  bool Start();

  // Asks the listener to stop, wakes it and waits through waiter at most
  // kStopTimeoutMs for it to end. On the window thread pass a
  // WindowQueueStopWaiter, so a listener blocked handing over a datagram is
  // served and sees the stop. True when the listener has ended and is joined
  // (also when it had ended on its own or never started); false after the
  // timeout: the thread is left running and is joined by the next Stop or the
  // destructor. Never kills the thread.
  bool Stop(StopWaiter& waiter);
  bool Stop();  // with a PlainStopWaiter

  // True from Start until the listener's thread has finished.
  bool running() const;

 private:
  void Listen(const std::stop_token& stop);

  const DiscoveryListenerConfig config_;
  const DiscoveryListenerCallbacks callbacks_;
  ReadableOrWakeup wake_;  // the stop's wake-up
  Worker worker_;
};

}  // namespace halvyn
