#include "routes/route_window_steps.h"

namespace halvyn {

std::optional<RouteRow> ActivateRoute(uint16_t slotPort, uint16_t learntPort,
                                      const RouteState& state, const RouteProgrammer& programmer,
                                      const SelectedRouteDevice& device,
                                      const ClientLookup& clients) {
  const std::optional<CRouteInfo> record = state.LookupRoute(slotPort);
  if (!record) return std::nullopt;
  const RouteSlot slot = *SlotOfPort(slotPort);  // routeMap holds slot ports only

  TransmitTemplateInputs inputs;
  inputs.gatewayMac = device.gatewayMac;
  inputs.deviceMac = device.mac;
  inputs.deviceAddress = device.address;
  inputs.rxIp = record->rx_ip();
  inputs.learntPort = learntPort;
  inputs.rxChanCount = record->rx_chan_count();
  inputs.channels = record->tx_chans();
  inputs.slot = slot;
  programmer.ProgramRouteTransmit(inputs);

  return MakeRouteRow(slot, *record, clients);
}

std::optional<std::string> ReleaseRouteSlot(RouteSlot slot, RouteState& state,
                                            const RouteProgrammer& programmer,
                                            uint32_t selectedDeviceAddress) {
  if (!IsRouteSlot(slot)) return std::nullopt;
  // The slot stays allocated while its blocks are zeroed, so no new route can
  // be programmed into them halfway through.
  programmer.ClearRouteBlocks(selectedDeviceAddress, slot);
  state.ReleaseRoute(slot);
  return RouteRowNumber(slot);
}

}  // namespace halvyn
