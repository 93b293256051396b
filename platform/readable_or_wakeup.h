// Waits until a UDP socket (or another descriptor) is readable or another
// thread asks for a wake-up.
//
// The wake-up is an eventfd that stays signalled until Clear, so a Wake given
// before the wait begins is never lost. One thread waits; any thread may Wake:
// a Worker's stop callback is the usual caller.
#pragma once

#include "platform/udp_socket.h"

namespace halvyn {

class ReadableOrWakeup {
 public:
  enum class Result {
    kReadable,  // a receive will not block (a datagram, a pending error or a closed socket)
    kWoken,     // Wake was called (checked first: a wake wins over a waiting datagram)
    kTimeout,
    kError,  // the wait itself failed; error() holds errno
  };

  // valid() is false when the eventfd could not be created (error() says why).
  ReadableOrWakeup();
  ~ReadableOrWakeup();
  ReadableOrWakeup(const ReadableOrWakeup&) = delete;
  ReadableOrWakeup& operator=(const ReadableOrWakeup&) = delete;

  bool valid() const { return wakeFd_ >= 0; }
  int error() const { return error_; }

  // Waiting thread. timeoutMs -1 waits without limit.
  Result Wait(const UdpSocket& socket, int timeoutMs);
  // Waits for the wake-up alone.
  Result WaitForWake(int timeoutMs);
  // Waits for a readable descriptor; kReadable also covers its hang-up or error.
  Result WaitOn(int fd, int timeoutMs);

  // Any thread.
  void Wake();
  // Waiting thread: forgets a pending wake-up.
  void Clear();

 private:
  int wakeFd_ = -1;
  int error_ = 0;
};

}  // namespace halvyn
