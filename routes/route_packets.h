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

#include "relay/relay_packet.h"
#include "routes/route_info.h"

namespace halvyn {

// The header is the relay protocol's own (relay/relay_packet.h).
constexpr size_t kRoutePacketLength = relay_packet::kRouteFormSize;
constexpr size_t kRouteCommandOffset = relay_packet::kCommandOffset;
constexpr size_t kRouteCountOffset = relay_packet::kCountOffset;
constexpr size_t kRouteRecordAreaOffset = relay_packet::kRecordOffset;
constexpr size_t kRouteBodyOffset = relay_packet::kRecordFormSize;
// A release needs the two bytes of its slot port.
constexpr size_t kRouteReleaseMinLength = kRouteBodyOffset + 2;
constexpr size_t kPortProbeMinLength = relay_packet::kMinimumSize;

constexpr uint8_t kRouteRequestLetter = relay_packet::kRouteRequest;
constexpr uint8_t kRouteTxReplyLetter = 'u';
constexpr uint8_t kRouteRxReplyLetter = 'v';
constexpr uint8_t kRouteReleaseLetter = relay_packet::kRouteRelease;
constexpr uint8_t kRouteTxReleaseLetter = 't';
constexpr uint8_t kRouteRxReleaseLetter = 's';
constexpr uint8_t kPortProbeLetter = 'w';

using RoutePacket = std::array<uint8_t, kRoutePacketLength>;

// The request body (bytes 120..227) of an "r" of at least 228 bytes.
CRouteInfo RouteRequestBody(std::span<const uint8_t, kRoutePacketLength> request);

struct RouteReplies {
  RoutePacket u;  // to the request's tx_ip : tx_port
  RoutePacket v;  // to the request's rx_ip : rx_port
};

// "u": the request with bytes 4..119 zeroed, letter "u", rx_port := slotPort.
// "v": the same header, letter "v", the body as received with tx_port := slotPort.
// Bytes 0, 1 and 3 are echoed from the request.
RouteReplies BuildRouteReplies(std::span<const uint8_t, kRoutePacketLength> request,
                               uint16_t slotPort);

// "t" or "s" (letter): "pr", the letter, bytes 3..119 zero, then the record.
RoutePacket BuildReleaseNotice(const CRouteInfo& record, uint8_t letter);

// The slot port of a release request, or none when it is shorter than 122 bytes.
std::optional<uint16_t> ReleaseSlotPort(std::span<const uint8_t> release);

// True for a datagram of at least 120 bytes with "w" at byte 2.
bool IsPortProbe(std::span<const uint8_t> datagram);

}  // namespace halvyn
