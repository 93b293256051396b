// The two messages that go to every logged-in client.
#pragma once

#include "platform/datagram_sender.h"
#include "relay/client_table.h"
#include "relay/relay_counters.h"

namespace halvyn {

// Sends the "h" list (every record, in table order, one datagram) to every
// client in the table. Nothing is sent when the table is empty. Send results
// are ignored: a list too long for one datagram (over 545 clients) or an
// unreachable client changes nothing; they are counted in counters. Any thread.
void BroadcastClientList(const ClientTable& table, const DatagramSender& socket,
                         RelayCounters& counters);

// Sends one record as a 120-byte "i" packet (count byte 0) to every client in
// the table, in table order, its own client included. Any thread.
void BroadcastClientInfo(const ClientTable& table, const DatagramSender& socket,
                         const ClientRecord& record, RelayCounters& counters);

}  // namespace halvyn
