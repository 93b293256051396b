// The machine's network adapters as the kernel reports them: hardware type,
// link state, MAC, first IPv4 address and default gateway of each. Read from
// getifaddrs, /proc/net/route, /sys/class/net and the drivers' names
// (ethtool) in the caller's network namespace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mac_address.h"

namespace halvyn {

// ARPHRD_ETHER: wired Ethernet, and also veth, bridges and Wi-Fi (see wireless).
inline constexpr uint16_t kHardwareTypeEthernet = 1;

struct NetworkAdapter {
  std::string name;
  int index = 0;              // kernel interface index
  uint16_t hardwareType = 0;  // ARPHRD_* of the link
  bool wireless = false;      // an 802.11 device, though its link type reads Ethernet
  bool up = false;            // administratively up (IFF_UP)
  bool carrier = false;       // operationally up: it has carrier (IFF_RUNNING)
  // A software bridge or a veth link (Docker, libvirt, containers): a machine's
  // own LAN adapter is rarely one, unless it has nothing else.
  bool bridgeOrVeth = false;
  MacAddress mac{};             // zero when the link has no 6-byte address
  uint32_t firstAddress = 0;    // first IPv4 address, network order; 0 when it has none
  uint32_t defaultGateway = 0;  // first default route's gateway through it, network order; 0: none
};

// Every adapter, in interface-index order (the order the kernel created them).
// Empty when the list cannot be read.
std::vector<NetworkAdapter> ReadNetworkAdapters();

}  // namespace halvyn
