// The hardware address of a neighbour on the LAN (for example the default
// gateway), from the kernel's neighbour (ARP) table of the caller's namespace.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/mac_address.h"

namespace halvyn {

// Returns the MAC the kernel holds for address (network order). When it holds
// none, asks the kernel to resolve it on the adapter interfaceIndex (an ARP
// request; this needs CAP_NET_ADMIN, without it nothing is asked) and waits up
// to timeoutMs for the answer. nullopt when no answer came. Blocks the caller.
std::optional<MacAddress> ResolveNeighbourMac(uint32_t address, int interfaceIndex, int timeoutMs);

// Only asks the kernel to resolve address on interfaceIndex; returns 0 or errno.
int RequestNeighbourResolution(uint32_t address, int interfaceIndex);

}  // namespace halvyn
