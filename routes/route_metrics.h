// The forward routes' part of the metrics page: the slots allocated and the
// route counters. Any thread (the route state has its own lock).
#pragma once

#include "platform/metrics_writer.h"
#include "routes/route_counters.h"
#include "routes/route_state.h"

namespace halvyn {

class RouteMetrics final : public MetricsSource {
 public:
  // Both must outlive this.
  RouteMetrics(const RouteCounters& counters, const RouteState& state)
      : counters_(counters), state_(state) {}

  void RenderMetrics(MetricsWriter& out) const override;

 private:
  const RouteCounters& counters_;
  const RouteState& state_;
};

}  // namespace halvyn
