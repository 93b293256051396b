// The PC's own identity on the LAN: its IPv4 address and Ethernet MAC, its
// default gateway and that gateway's MAC.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mac_address.h"
#include "platform/network_adapters.h"

namespace halvyn {

struct LocalNetworkIdentity {
  uint32_t localAddress = 0;  // host order: first octet in the most significant byte
  std::string gatewayText;    // dotted decimal; empty when the adapter has no gateway
  MacAddress localMac{};
  MacAddress gatewayMac{};  // all zero when the gateway did not answer
};

struct LocalAdapterChoice {
  uint32_t localAddress = 0;  // host order
  std::string gatewayText;
  MacAddress localMac{};
  int interfaceIndex = 0;  // 0 when no adapter qualified
};

// An adapter qualifies when its first IPv4 address is not 0.0.0.0 and it is
// wired Ethernet (Ethernet link type, not wireless). Every adapter is looked
// at in list order and each qualifying one overwrites the choice, so the last
// one wins. With none, everything stays zero and empty. A pure function.
LocalAdapterChoice ChooseLocalAdapter(const std::vector<NetworkAdapter>& adapters);

// How long the gateway's MAC is awaited when the kernel must ask for it.
inline constexpr int kGatewayMacTimeoutMs = 1000;

// Reads the adapters of the calling process's network namespace, chooses one
// and resolves its gateway's MAC, waiting at most gatewayTimeoutMs. Blocks the
// caller (the window thread at start-up) for up to that long.
LocalNetworkIdentity ReadLocalNetworkIdentity(int gatewayTimeoutMs = kGatewayMacTimeoutMs);

}  // namespace halvyn
