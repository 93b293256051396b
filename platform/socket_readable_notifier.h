// Turns "this socket is readable" into a call on a thread of its own, once per
// arming: after each call the notifier waits until Rearm before it looks at
// the socket again, so it never spins while the reader has not yet read.
//
// This is how the window learns that the device socket holds a datagram: the
// call posts the readable message, the window's handler reads one datagram and
// then calls Rearm; if more datagrams wait, the next call follows at once.
#pragma once

#include <atomic>
#include <functional>
#include <stop_token>

#include "platform/readable_or_wakeup.h"
#include "platform/udp_socket.h"
#include "platform/worker.h"

namespace halvyn {

class SocketReadableNotifier {
 public:
  // socket must outlive the notifier. onReadable runs on the notifier's thread
  // and should only hand the event on (post a message); it must not call Stop.
  SocketReadableNotifier(const UdpSocket& socket, std::function<void()> onReadable);
  ~SocketReadableNotifier();  // Stop
  SocketReadableNotifier(const SocketReadableNotifier&) = delete;
  SocketReadableNotifier& operator=(const SocketReadableNotifier&) = delete;

  // Starts the thread, armed. False when it cannot run (no wake-up descriptor)
  // or was started before.
  bool Start();
  // Any thread: the reader has read; watch the socket again.
  void Rearm();
  // Any thread but the notifier's own: ends and joins the thread. Safe to call twice.
  void Stop();

  bool running() const { return worker_.started(); }

 private:
  void Loop(const std::stop_token& stop);

  const UdpSocket& socket_;
  std::function<void()> onReadable_;
  ReadableOrWakeup wake_;  // Rearm and the stop wake the loop through it
  std::atomic<bool> armed_{true};
  Worker worker_;
};

}  // namespace halvyn
