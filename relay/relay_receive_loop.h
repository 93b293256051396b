// The relay receive thread's body.
#pragma once

#include <cstddef>

#include "platform/message_queue.h"
#include "platform/udp_socket.h"
#include "relay/relay_dispatcher.h"

namespace halvyn {

// Datagrams taken from the socket in one system call, at most.
constexpr size_t kReceiveBatchSize = 32;

// Takes the datagrams waiting on the socket, up to kReceiveBatchSize at a
// time, each into its own 1024-byte buffer (longer datagrams are cut), and
// hands them to the dispatcher one after the other in arrival order, each
// handled completely before the next; until the socket is closed, which ends
// the loop before the next datagram even within a batch. The replies of a
// batch leave together at its end (see OutgoingBatch). Transient receive
// errors (a signal, an error reported for an earlier send to a vanished
// client, memory pressure) do not end the loop.
//
// With a window queue, the window thread is woken once per batch for the
// notices the batch posted (see HeldWakes), not once per notice.
void RelayReceiveLoop(const UdpSocket& socket, RelayDispatcher& dispatcher,
                      WindowMessageQueue* window = nullptr);

}  // namespace halvyn
