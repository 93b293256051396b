// Parsers for the kernel's routing and neighbour tables as /proc/net shows
// them. Pure functions of the text, so they can be tested with fixed tables.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mac_address.h"

namespace halvyn {

struct DefaultGateway {
  std::string interfaceName;
  uint32_t gateway = 0;  // network order
};

// Default routes (destination and mask 0, flags up and gateway) of
// /proc/net/route, in the table's order. Malformed lines are skipped.
std::vector<DefaultGateway> ParseDefaultGateways(std::string_view procNetRoute);

struct NeighbourEntry {
  uint32_t address = 0;  // network order
  MacAddress mac{};
  bool complete = false;  // the kernel has a hardware address for it (ATF_COM)
  std::string interfaceName;
};

// The entries of /proc/net/arp, in the table's order. Malformed lines are skipped.
std::vector<NeighbourEntry> ParseNeighbourTable(std::string_view procNetArp);

}  // namespace halvyn
