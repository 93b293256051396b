// The slot and channel search of a route request, on plain mask values.
#pragma once

#include <cstdint>
#include <optional>

#include "routes/route_slot.h"

namespace halvyn {

struct RouteAllocation {
  RouteSlot slot = 0;
  ChannelList channels{};  // the k lowest free channel numbers, zero after the k-th
};

// routeSlotMask bit n: slot n taken; channelMask bit j: channel j + 1 taken.
// Takes the lowest free slot and the k lowest free channels. None when k is 0
// or above 8 (the channel list holds 8 numbers), when every slot is taken, or
// when fewer than k channels are free.
std::optional<RouteAllocation> FindRouteAllocation(uint32_t routeSlotMask, uint32_t channelMask,
                                                   unsigned k);

}  // namespace halvyn
