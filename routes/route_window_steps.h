// The window-thread halves of route activation and route release.
//
// The window calls these from OnRoutePortLearned and OnRouteReleased with its
// own members; they write registers and pause without any lock held and tell
// the window what to change in its forward route list. Window thread only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "routes/client_lookup.h"
#include "routes/forward_route_rows.h"
#include "routes/route_programmer.h"
#include "routes/route_state.h"

namespace halvyn {

// The window members the device writes need.
struct SelectedRouteDevice {
  uint32_t address = 0;                 // selectedDeviceAddress, network order
  std::array<uint8_t, 6> mac{};         // selectedDeviceMac
  std::array<uint8_t, 6> gatewayMac{};  // gatewayMac
};

// A probe on slotPort came from learntPort (host order). Looks the slot port up
// in routeMap; with no entry, does nothing and returns none. Otherwise writes
// the transmit template built from a copy of the record (rx_ip, rx_chan_count,
// tx_chans; allocated or not) and returns the row to add at
// RouteRowPosition(row.slot, rows), or none when either client is not logged in.
std::optional<RouteRow> ActivateRoute(uint16_t slotPort, uint16_t learntPort,
                                      const RouteState& state, const RouteProgrammer& programmer,
                                      const SelectedRouteDevice& device,
                                      const ClientLookup& clients);

// Release of a slot (0..31): zeroes its three blocks in the device (20 ms of
// pauses), then frees the slot and the channels its record lists and zeroes
// the record. Returns the first-column text of the row to delete (the first
// row reading it; there may be none). A slot outside 0..31 does nothing and
// returns none.
std::optional<std::string> ReleaseRouteSlot(RouteSlot slot, RouteState& state,
                                            const RouteProgrammer& programmer,
                                            uint32_t selectedDeviceAddress);

}  // namespace halvyn
