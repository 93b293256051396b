// The route commands of the relay protocol and how their replies are built.
//
// Route packet (228 bytes):
//   0..1     "pr"
//   2        command letter
//   3        count byte: echoed in "u"/"v", 0 in "t"/"s"
//   4..119   client-record area: not read in requests, zero in every reply
//   120..227 CRouteInfo
//
// "r" (at least 228 bytes) asks for a route; "u" goes to its Tx device and "v"
// to its Rx device, each carrying the slot port (0 when refused) in the port
// field of the other endpoint. "x" (slot port LE at 120..121) releases a route;
// "t" goes to the stored Tx device and "s" to the stored Rx device, both
// carrying the stored record. "w" (at least 120 bytes, "w" at byte 2) is the
// probe an Rx device sends to the slot port.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "relay/relay_client_codec.h"
#include "relay/relay_packet.h"
#include "routes/route_info.h"

namespace halvyn {

// The header is the relay protocol's own (relay/relay_packet.h).
namespace route_packet {

inline constexpr size_t kSize = relay_packet::kRouteFormSize;
inline constexpr size_t kBodyOffset = relay_packet::kRecordFormSize;  // the CRouteInfo
// A release needs the two bytes of its slot port.
inline constexpr size_t kReleaseMinSize = kBodyOffset + 2;
inline constexpr size_t kProbeMinSize = relay_packet::kMinimumSize;

inline constexpr uint8_t kRequest = relay_packet::kRouteRequest;
inline constexpr uint8_t kTxReply = 'u';
inline constexpr uint8_t kRxReply = 'v';
inline constexpr uint8_t kRelease = relay_packet::kRouteRelease;
inline constexpr uint8_t kTxRelease = 't';
inline constexpr uint8_t kRxRelease = 's';
inline constexpr uint8_t kProbe = 'w';

}  // namespace route_packet

using RoutePacket = std::array<uint8_t, route_packet::kSize>;

// The request body (bytes 120..227) of an "r" of at least 228 bytes.
CRouteInfo RouteRequestBody(std::span<const uint8_t, route_packet::kSize> request);

struct RouteReplies {
  RoutePacket u;  // to the request's tx_ip : tx_port
  RoutePacket v;  // to the request's rx_ip : rx_port
};

// "u": the request with bytes 4..119 zeroed, letter "u", rx_port := slotPort.
// "v": the same header, letter "v", the body as received with tx_port := slotPort.
// Bytes 0, 1 and 3 are echoed from the request.
RouteReplies BuildRouteReplies(std::span<const uint8_t, route_packet::kSize> request,
                               uint16_t slotPort);

// "t" or "s" (letter): "pr", the letter, bytes 3..119 zero, then the record.
RoutePacket BuildReleaseNotice(const CRouteInfo& record, uint8_t letter);

// The slot port of a release request, or none when it is shorter than 122 bytes.
std::optional<uint16_t> ReleaseSlotPort(std::span<const uint8_t> release);

// True for a datagram of at least 120 bytes with "w" at byte 2.
bool IsPortProbe(std::span<const uint8_t> datagram);

// The body (bytes 120..227) of any datagram of at least 228 bytes: a reply
// "u", "v", "t" or "s" as a client reads it; nullopt when shorter.
std::optional<CRouteInfo> RouteBodyOf(std::span<const uint8_t> datagram);

// The client's side (relay/relay_client_codec.h), both 228 bytes after the
// sender's record form:
// "r": a forward-route request with the given body.
Datagram BuildRouteRequest(const ClientRecord& self, const CRouteInfo& route);
// "x": the release of the route whose slot port is given, least significant
// byte first at 120..121; the rest of the body zero.
Datagram BuildRouteRelease(const ClientRecord& self, uint16_t slotPort);

}  // namespace halvyn
