// What the relay receive loop hands route commands to: the relay's own
// interface, implemented here by RouteRequestHandler.
//
// Relay receive thread, one call at a time. The packet is the accepted
// datagram ("pr" checked, byte 35 zeroed), valid for the call only; "r" comes
// with at least 228 bytes, "x" with at least 120. Replies leave through
// relaySocket, to the endpoints named in the route body.
#pragma once

#include "relay/relay_notices.h"

namespace halvyn {

using RouteCommandHandler = RouteCommands;

}  // namespace halvyn
