// The datagrams halvyn-client sends, built as a remote device builds them.
//
// Every packet starts with the record form (120 bytes): "pr", the letter, a
// count byte of 0, then the sender's own ClientRecord at 4..119 (its name and
// p2p address; ip, port and last_seen are the server's and left zero).
//
//   letter  length          after the record form
//   e f k i 120             -
//   p       120 + max(32, len(target) + 1)
//                           the target's name from offset 120, NUL-padded
//   r       228             CRouteInfo at 120..227
//   x       228             slot port at 120..121, least significant byte first;
//                           the rest of the body zero (120 and 121 bytes carry
//                           no complete slot port and are ignored by the server)
//   w       120             - (sent to the slot port, not the relay port)
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "relay/client_record.h"
#include "routes/route_info.h"

namespace halvyn {

using Datagram = std::vector<uint8_t>;

// "pr", letter, 0, then the record: "e", "f", "k", "i" and "w".
Datagram BuildRecordPacket(uint8_t letter, const ClientRecord& self);

// "p": a connect request to the client named target.
Datagram BuildConnectRequest(const ClientRecord& self, std::string_view target);

// "r": a forward-route request with the given body.
Datagram BuildRouteRequest(const ClientRecord& self, const CRouteInfo& route);

// "x": the release of the route whose slot port is given.
Datagram BuildRouteRelease(const ClientRecord& self, uint16_t slotPort);

}  // namespace halvyn
