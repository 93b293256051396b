// Batched UDP I/O: many datagrams in one system call (recvmmsg, sendmmsg).
//
// Each datagram keeps its own boundaries, source and destination; batching
// only saves system calls, it never merges or reorders datagrams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/udp_socket.h"

namespace halvyn {

// One datagram to send; the bytes stay the caller's and are read during the call.
struct OutgoingDatagram {
  std::span<const uint8_t> bytes;
  Ipv4Endpoint destination;
};

// The most datagrams handed to the kernel in one system call.
constexpr size_t kSendBatchSize = 64;

// Sends the datagrams in order, up to kSendBatchSize per system call. One the
// kernel refuses is skipped and the rest still go, as with one SendTo after
// the other. With nonBlocking, a full send buffer stops the call there.
// Returns how many were sent. Any thread (the kernel keeps each datagram whole).
size_t SendEach(const UdpSocket& socket, std::span<const OutgoingDatagram> datagrams,
                bool nonBlocking = false);

struct BatchReceiveResult {
  ReceiveResult::Status status = ReceiveResult::Status::kError;
  size_t count = 0;      // whole datagrams taken, for kDatagram (may be 0)
  size_t oversized = 0;  // datagrams longer than datagramSize, for kDatagram: discarded
  int error = 0;         // errno for kError
};

// Receives up to `capacity` datagrams per system call into buffers it owns,
// `datagramSize` bytes each. A longer datagram is recognised (MSG_TRUNC) and,
// by default, counted in the result's `oversized` and left out: the batch
// then holds only whole datagrams, in their order. Load generators that read
// only the head of long datagrams keep it instead (kKeepHead).
// One thread at a time; the datagrams of one Receive stay until the next.
class ReceiveBatch {
 public:
  enum class Oversized { kDiscard, kKeepHead };

  ReceiveBatch(size_t capacity, size_t datagramSize, Oversized oversized = Oversized::kDiscard);
  ~ReceiveBatch();
  ReceiveBatch(const ReceiveBatch&) = delete;
  ReceiveBatch& operator=(const ReceiveBatch&) = delete;

  // With wait, blocks until a datagram arrives, the socket is closed (kClosed,
  // also when datagrams were waiting) or an error occurs; then takes every
  // datagram already waiting, up to capacity, without waiting for more.
  // Without wait, kError with EAGAIN when nothing is waiting.
  BatchReceiveResult Receive(const UdpSocket& socket, bool wait);

  // Datagram i (below the last Receive's count): its stored bytes, its whole
  // length as sent, whether it was cut (kKeepHead only), and where it came from.
  std::span<uint8_t> bytes(size_t i);
  size_t length(size_t i) const;
  bool truncated(size_t i) const;
  Ipv4Endpoint source(size_t i) const;

  size_t capacity() const { return capacity_; }

 private:
  struct Headers;  // the kernel's message headers and source addresses

  size_t capacity_;
  size_t datagramSize_;
  Oversized oversized_;
  std::vector<uint8_t> storage_;
  std::unique_ptr<Headers> headers_;
  std::vector<size_t> kept_;  // the kernel's message index of each datagram handed out
};

}  // namespace halvyn
