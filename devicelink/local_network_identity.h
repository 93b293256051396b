// The PC's own identity on the LAN: its IPv4 address and Ethernet MAC, its
// default gateway and that gateway's MAC.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mac_address.h"
#include "platform/network_adapters.h"

namespace halvyn {

struct LocalNetworkIdentity {
  std::string interfaceName;  // the chosen adapter; empty when none was chosen
  uint32_t localAddress = 0;  // host order: first octet in the most significant byte
  std::string gatewayText;    // dotted decimal; empty when the adapter has no gateway
  MacAddress localMac{};
  MacAddress gatewayMac{};  // all zero when the gateway did not answer
};

struct LocalAdapterChoice {
  std::string interfaceName;  // empty when no adapter was chosen
  uint32_t localAddress = 0;  // host order
  std::string gatewayText;
  MacAddress localMac{};
  int interfaceIndex = 0;  // 0 when no adapter qualified
};

// With an interface name, the adapter of that name, whatever its state (its
// address may be 0.0.0.0); none when no adapter has that name.
//
// Without one, an adapter qualifies when it is up, has carrier, its first
// IPv4 address is not 0.0.0.0 and it is wired Ethernet (Ethernet link type,
// not wireless). Among the qualifying ones a bridge or veth link counts only
// when no other adapter qualifies; then one that holds a default route beats
// one that does not; then the later in list order wins. With none, everything
// stays zero and empty. A pure function.
LocalAdapterChoice ChooseLocalAdapter(const std::vector<NetworkAdapter>& adapters,
                                      std::string_view interfaceName = {});

// How long the gateway's MAC is awaited when the kernel must ask for it.
inline constexpr int kGatewayMacTimeoutMs = 1000;

// Reads the adapters of the calling process's network namespace, chooses one
// (interfaceName as in ChooseLocalAdapter) and resolves its gateway's MAC,
// waiting at most gatewayTimeoutMs. Blocks the caller (the window thread at
// start-up) for up to that long.
LocalNetworkIdentity ReadLocalNetworkIdentity(std::string_view interfaceName = {},
                                              int gatewayTimeoutMs = kGatewayMacTimeoutMs);

}  // namespace halvyn
