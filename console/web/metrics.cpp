#include "console/web/metrics.h"

namespace halvyn {

std::string RenderMetrics(std::span<const MetricsSource* const> sources,
                          const MetricsGauges& gauges) {
  MetricsWriter page;
  for (const MetricsSource* source : sources) source->RenderMetrics(page);

  page.Single("halvyn_console_event_streams", "gauge", "Console event streams connected.",
              NonNegative(gauges.eventStreams));

  if (gauges.window) {
    page.Single("halvyn_relay_running", "gauge", "1 while the relay server runs.",
                gauges.window->relayRunning ? 1 : 0);
    page.Single("halvyn_routes_active", "gauge", "Routes in the forward route list.",
                NonNegative(gauges.window->routesActive));
    page.Single("halvyn_lan_devices", "gauge", "LAN devices in the device list.",
                NonNegative(gauges.window->lanDevices));
  }
  return page.Take();
}

}  // namespace halvyn
