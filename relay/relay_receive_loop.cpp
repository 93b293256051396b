#include "relay/relay_receive_loop.h"

#include <cerrno>

#include "platform/udp_batch.h"
#include "relay/relay_packet.h"

namespace halvyn {

namespace {

// Errors after which the socket is still usable.
bool IsTransient(int error) {
  switch (error) {
    case EINTR:
    case EAGAIN:
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENOBUFS:
    case ENOMEM:
      return true;
    default:
      return false;
  }
}

}  // namespace

void RelayReceiveLoop(const UdpSocket& socket, RelayDispatcher& dispatcher,
                      WindowMessageQueue* window) {
  ReceiveBatch batch(kReceiveBatchSize, relay_packet::kReceiveBufferSize);
  for (;;) {
    const BatchReceiveResult result = batch.Receive(socket, /*wait=*/true);
    if (result.status == ReceiveResult::Status::kClosed) return;
    if (result.status == ReceiveResult::Status::kError) {
      if (IsTransient(result.error)) continue;
      return;
    }
    if (result.oversized)
      dispatcher.counters().dropped[size_t(RelayDrop::kOversized)].Add(result.oversized);
    HeldWakes held(window);
    for (size_t i = 0; i < result.count; ++i) {
      if (socket.closed()) return;
      dispatcher.Handle(batch.bytes(i), batch.source(i));
    }
    dispatcher.FlushReplies();  // the batch's replies, together
  }
}

}  // namespace halvyn
