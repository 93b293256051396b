// GET /metrics: Halvyn's counters and gauges in the Prometheus text format
// (version 0.0.4). The counters come from the subsystems' process-wide sets
// (relay, routes, device link, STUN); the gauges are read by the caller.
//
// Any thread: rendering only reads relaxed atomics and the gauges given.
#pragma once

#include <optional>
#include <string>

namespace halvyn {

struct MetricsGauges {
  int clientsOnline = 0;
  int eventStreams = 0;
  int routesAllocated = 0;
  // Read on the window thread; nothing when the window has ended.
  struct Window {
    bool relayRunning = false;
    int routesActive = 0;
    int lanDevices = 0;
  };
  std::optional<Window> window;
};

std::string RenderMetrics(const MetricsGauges& gauges);

inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace halvyn
