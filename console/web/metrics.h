// GET /metrics: Halvyn's counters and gauges in the Prometheus text format
// (version 0.0.4). The subsystems render their own counters (MetricsSource);
// the console adds its event streams and the window's gauges.
//
// Any thread: the sources only read relaxed atomics and state behind their
// own locks; the window's gauges are read by the caller.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "platform/metrics_writer.h"

namespace halvyn {

struct MetricsGauges {
  int eventStreams = 0;
  // Read on the window thread; nothing when the window has ended.
  struct Window {
    bool relayRunning = false;
    int routesActive = 0;
    int lanDevices = 0;
  };
  std::optional<Window> window;
};

// The sources' families in their order, then the console's gauges.
std::string RenderMetrics(std::span<const MetricsSource* const> sources,
                          const MetricsGauges& gauges);

inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace halvyn
