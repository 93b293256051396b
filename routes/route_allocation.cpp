#include "routes/route_allocation.h"

namespace halvyn {

std::optional<RouteAllocation> FindRouteAllocation(uint32_t routeSlotMask, uint32_t channelMask,
                                                   unsigned k) {
  if (k == 0 || k > unsigned(kMaxRouteChannels)) return std::nullopt;
  RouteAllocation allocation;
  RouteSlot slot = 0;
  while (slot < kRouteSlotCount && (routeSlotMask & (1u << slot)) != 0) ++slot;
  if (slot == kRouteSlotCount) return std::nullopt;
  allocation.slot = slot;

  unsigned found = 0;
  for (int j = 0; j < kForwardChannelCount && found < k; ++j) {
    if ((channelMask & (1u << j)) == 0) allocation.channels[found++] = uint8_t(j + 1);
  }
  if (found < k) return std::nullopt;
  return allocation;
}

}  // namespace halvyn
