// The window's halves of forward routes: activation after a port probe and
// release. Window thread.
#include "console/halvyn_dlg.h"
#include "relay/client_table.h"
#include "routes/route_programmer.h"
#include "routes/route_state.h"
#include "routes/route_window_steps.h"

namespace halvyn {

void CHalvynDlg::OnRoutePortLearned(uint16_t slotPort, uint16_t learntPort) {
  AssertOnWindowThread();
  const std::optional<RouteRow> row =
      ActivateRoute(slotPort, learntPort, routeState_, routeProgrammer_,
                    {selectedDeviceAddress_, selectedDeviceMac_, gatewayMac_},
                    [this](std::string_view name) { return clientTable_.EndpointOf(name); });
  if (!row) return;
  forwardRoutes_.AddRouteRow(*row);
  routeListedAt_[size_t(row->slot)] = WallClockMs();
  MarkChanged();
}

void CHalvynDlg::OnRouteReleased(RouteSlot slot) {
  AssertOnWindowThread();
  ReleaseRouteSlot(slot, routeState_, routeProgrammer_, selectedDeviceAddress_);
  if (forwardRoutes_.RemoveRouteRow(slot)) MarkChanged();
}

}  // namespace halvyn
