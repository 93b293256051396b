#include "devicelink/local_network_identity.h"

#include "platform/ipv4.h"
#include "platform/neighbour_resolver.h"

namespace halvyn {

namespace {

// How much an adapter is preferred as the LAN adapter; 0 when it does not qualify.
int Preference(const NetworkAdapter& adapter) {
  if (adapter.firstAddress == 0 || adapter.hardwareType != kHardwareTypeEthernet ||
      adapter.wireless || !adapter.up || !adapter.carrier)
    return 0;
  return 1 + (adapter.bridgeOrVeth ? 0 : 2) + (adapter.defaultGateway != 0 ? 1 : 0);
}

LocalAdapterChoice ChoiceOf(const NetworkAdapter& adapter) {
  LocalAdapterChoice choice;
  choice.interfaceName = adapter.name;
  choice.localAddress = NetworkToHostOrder(adapter.firstAddress);
  choice.gatewayText = adapter.defaultGateway != 0 ? DottedText(adapter.defaultGateway) : "";
  choice.localMac = adapter.mac;
  choice.interfaceIndex = adapter.index;
  return choice;
}

}  // namespace

LocalAdapterChoice ChooseLocalAdapter(const std::vector<NetworkAdapter>& adapters,
                                      std::string_view interfaceName) {
  const NetworkAdapter* chosen = nullptr;
  int best = 0;
  for (const NetworkAdapter& adapter : adapters) {
    if (!interfaceName.empty()) {
      if (adapter.name == interfaceName) chosen = &adapter;
      continue;
    }
    const int preference = Preference(adapter);
    if (preference > 0 && preference >= best) {
      best = preference;
      chosen = &adapter;
    }
  }
  return chosen ? ChoiceOf(*chosen) : LocalAdapterChoice{};
}

LocalNetworkIdentity ReadLocalNetworkIdentity(std::string_view interfaceName,
                                              int gatewayTimeoutMs) {
  const LocalAdapterChoice choice = ChooseLocalAdapter(ReadNetworkAdapters(), interfaceName);
  LocalNetworkIdentity identity;
  identity.interfaceName = choice.interfaceName;
  identity.localAddress = choice.localAddress;
  identity.gatewayText = choice.gatewayText;
  identity.localMac = choice.localMac;
  if (const std::optional<uint32_t> gateway = ParseDotted(choice.gatewayText)) {
    if (std::optional<MacAddress> mac =
            ResolveNeighbourMac(*gateway, choice.interfaceIndex, gatewayTimeoutMs))
      identity.gatewayMac = *mac;
  }
  return identity;
}

}  // namespace halvyn
