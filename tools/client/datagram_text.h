// One line of text per datagram, sent or received: what halvyn-client prints.
//
// A line is "sent" or "recv", the command letter, then space-separated
// key=value fields, always ending with "size=BYTES" and, for a sent datagram,
// "dst=IP:PORT" or, for a received one, "src=IP:PORT":
//
//   sent e|f|k|i name=N p2p=IP:PORT
//   sent p name=N to=TARGET
//   sent r name=N ROUTE
//   sent x name=N slot_port=P
//   sent w name=N
//   recv g name=N ip=IP port=P p2p=IP:PORT last_seen=T
//   recv h count=C names=N1,N2,... addrs=IP:PORT,IP:PORT,...
//   recv i name=N p2p=IP:PORT ip=IP port=P last_seen=T
//   recv p from=N p2p=IP:PORT
//   recv u|v slot_port=P ROUTE
//   recv t|s ROUTE with tx_chans=A/B/... after tx_chan_count
//   sent|recv LETTER       any other "pr" letter: no fields
//   sent|recv junk         not "pr", or shorter than its letter's form
//
// where ROUTE is
//   tx_name=N tx=IP:PORT tx_chan_count=C rx_name=N rx=IP:PORT rx_chan_count=C tx_param=X
//
// Ports are decimal in host order (the wire's little-endian fields decoded);
// "u" carries its slot port in rx's port and "v" in tx's, slot_port repeats it
// (0: the request was refused). "h" count is the number of 120-byte blocks.
// Names are escaped by FieldText so a line always splits on spaces.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/ipv4.h"

namespace halvyn {

enum class Direction { kSent, kReceived };

std::string DescribeDatagram(Direction direction, std::span<const uint8_t> datagram,
                             Ipv4Endpoint peer);

// Bytes 0x21..0x7E stay as they are, except "\", "," and "=", which are
// written like every other byte as "\xHH" (two lower-case hex digits).
std::string FieldText(std::string_view text);

// "a.b.c.d:port".
std::string EndpointText(Ipv4Endpoint endpoint);

}  // namespace halvyn
