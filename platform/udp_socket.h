// An IPv4 UDP socket: bind, whole-datagram send, blocking receive, multicast,
// and a Close that wakes a thread blocked in Receive.
//
// Any thread may Send and Close; one thread at a time may Receive. Close only
// shuts the socket down (a blocked or later Receive reports Closed); the
// descriptor itself is released by the destructor, once no thread can use it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/datagram_sender.h"
#include "platform/ipv4.h"

namespace halvyn {

struct ReceiveResult {
  // kOversized: a datagram longer than the buffer arrived and was discarded
  // (MSG_TRUNC). The buffer then holds no datagram: a cut one must never be
  // handled as if whole. size is its whole length.
  enum class Status { kDatagram, kClosed, kError, kOversized };
  Status status = Status::kError;
  size_t size = 0;  // the datagram's length (kDatagram: all of it is in the buffer)
  Ipv4Endpoint source;
  int error = 0;  // errno for kError
};

class UdpSocket final : public DatagramSender {
 public:
  // Opens an unbound socket; valid() is false (and error() says why) on failure.
  UdpSocket();
  ~UdpSocket() override;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  bool valid() const { return fd_ >= 0; }
  int error() const { return openError_; }

  // Returns 0 or the errno of the failure (an invalid socket gives its open error).
  int Bind(Ipv4Endpoint local, bool reuseAddress = false);
  // The bound local endpoint (port 0 when unbound or on failure).
  Ipv4Endpoint LocalEndpoint() const;

  // Sends one whole datagram. Returns false when the kernel refused it.
  bool SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const override;
  // The same datagram to each destination in order, many per system call
  // (see SendEach in udp_batch.h). Returns how many were sent.
  size_t SendToEach(std::span<const uint8_t> datagram,
                    std::span<const Ipv4Endpoint> destinations) const override;

  // Blocks until a datagram arrives, the socket is closed, or an error occurs.
  ReceiveResult Receive(std::span<uint8_t> buffer) const;
  // Non-blocking: kError with EAGAIN when nothing is waiting.
  ReceiveResult ReceiveNow(std::span<uint8_t> buffer) const;

  // Waits until a datagram can be read, the socket is closed, or the timeout
  // passes (-1 waits without limit). True when Receive would not block.
  bool WaitReadable(int timeoutMs) const;

  // The kernel's receive buffer (SO_RCVBUF; the kernel doubles the value and
  // caps it). Returns 0 or the errno.
  int SetReceiveBufferSize(int bytes);
  // The same past the system's limit (net.core.rmem_max) where the process may
  // (CAP_NET_ADMIN), else up to that limit. Returns the size the kernel
  // granted, as it reports it (twice the value asked for, for its own
  // bookkeeping), or 0 on failure.
  int RequestReceiveBufferSize(int bytes);

  int SetMulticastTtl(int ttl);
  int JoinGroup(uint32_t group, uint32_t interfaceAddress);
  int DropGroup(uint32_t group, uint32_t interfaceAddress);

  // Shuts the socket down; wakes Receive and WaitReadable. Safe to call twice.
  void Close();
  bool closed() const { return closed_.load(std::memory_order_acquire); }

  // The descriptor, for the platform's own pollers.
  int fd() const { return fd_; }

 private:
  ReceiveResult ReceiveWithFlags(std::span<uint8_t> buffer, int flags) const;

  int fd_ = -1;
  int openError_ = 0;
  std::atomic<bool> closed_{false};
};

}  // namespace halvyn
