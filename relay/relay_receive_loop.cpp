#include "relay/relay_receive_loop.h"

#include <array>
#include <cerrno>

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

void RelayReceiveLoop(const UdpSocket& socket, RelayDispatcher& dispatcher) {
  std::array<uint8_t, relay_packet::kReceiveBufferSize> buffer{};
  for (;;) {
    const ReceiveResult result = socket.Receive(buffer);
    if (result.status == ReceiveResult::Status::kClosed) return;
    if (result.status == ReceiveResult::Status::kError) {
      if (IsTransient(result.error)) continue;
      return;
    }
    dispatcher.Handle(std::span(buffer).first(result.size), result.source);
  }
}

}  // namespace halvyn
