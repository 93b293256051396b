#include "devicelink/local_network_identity.h"

#include "platform/ipv4.h"
#include "platform/neighbour_resolver.h"

namespace halvyn {

LocalAdapterChoice ChooseLocalAdapter(const std::vector<NetworkAdapter>& adapters) {
  LocalAdapterChoice choice;
  for (const NetworkAdapter& adapter : adapters) {
    if (adapter.firstAddress == 0 || adapter.hardwareType != kHardwareTypeEthernet ||
        adapter.wireless)
      continue;
    choice.localAddress = NetworkToHostOrder(adapter.firstAddress);
    choice.gatewayText = adapter.defaultGateway != 0 ? DottedText(adapter.defaultGateway) : "";
    choice.localMac = adapter.mac;
    choice.interfaceIndex = adapter.index;
  }
  return choice;
}

LocalNetworkIdentity ReadLocalNetworkIdentity(int gatewayTimeoutMs) {
  const LocalAdapterChoice choice = ChooseLocalAdapter(ReadNetworkAdapters());
  LocalNetworkIdentity identity;
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
