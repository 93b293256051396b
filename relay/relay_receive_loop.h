// The relay receive thread's body.
#pragma once

#include "platform/udp_socket.h"
#include "relay/relay_dispatcher.h"

namespace halvyn {

// Reads one datagram at a time (a 1024-byte buffer; longer datagrams are cut)
// and hands it to the dispatcher, until the socket is closed. Transient
// receive errors (a signal, an error reported for an earlier send to a
// vanished client, memory pressure) do not end the loop.
void RelayReceiveLoop(const UdpSocket& socket, RelayDispatcher& dispatcher);

}  // namespace halvyn
