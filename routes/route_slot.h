// Route slots, slot ports and the forwarding channels of the selected device.
//
// A route occupies one slot, an index 0..31. The slot fixes its slot port
// (14367 + slot, the UDP port on which the Rx device's probe arrives and the
// source port of the forwarded audio), its record and its register areas.
// A route also holds 1..8 of the device's 32 forwarding channels, numbered 1..32.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace halvyn {

// Index of a route slot, 0..31.
using RouteSlot = int;

constexpr int kRouteSlotCount = 32;
constexpr uint16_t kFirstSlotPort = 14367;
constexpr uint16_t kLastSlotPort = kFirstSlotPort + kRouteSlotCount - 1;  // 14398

constexpr int kForwardChannelCount = 32;
// A route's channel list and a record's tx_chans hold at most this many numbers.
constexpr int kMaxRouteChannels = 8;

// Channel numbers (1..32) in ascending order, zero bytes after the last one.
using ChannelList = std::array<uint8_t, kMaxRouteChannels>;

constexpr bool IsRouteSlot(RouteSlot slot) {
  return slot >= 0 && slot < kRouteSlotCount;
}

// Slot port of a valid slot (host order).
constexpr uint16_t SlotPort(RouteSlot slot) {
  return uint16_t(kFirstSlotPort + slot);
}

// The slot a slot port names; none below 14367 or above 14398.
constexpr std::optional<RouteSlot> SlotOfPort(uint16_t slotPort) {
  if (slotPort < kFirstSlotPort || slotPort > kLastSlotPort) return std::nullopt;
  return RouteSlot(slotPort - kFirstSlotPort);
}

}  // namespace halvyn
