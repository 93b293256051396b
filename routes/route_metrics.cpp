#include "routes/route_metrics.h"

#include <bit>
#include <string_view>

namespace halvyn {

void RouteMetrics::RenderMetrics(MetricsWriter& page) const {
  page.Single("halvyn_routes_allocated", "gauge", "Route slots allocated.",
              NonNegative(std::popcount(state_.routeSlotMask())));
  constexpr std::string_view kRequests = "halvyn_route_requests_total";
  page.Family(kRequests, "counter", "Route requests, by result (refused: slot port 0).");
  page.Sample(kRequests, "result=\"granted\"", counters_.granted.Value());
  page.Sample(kRequests, "result=\"refused\"", counters_.refused.Value());
  page.Single("halvyn_route_slot_oversized_total", "counter",
              "Datagrams on the slot ports longer than the probe buffer: dropped unread, "
              "ending their listener.",
              counters_.oversizedProbes.Value());
}

}  // namespace halvyn
