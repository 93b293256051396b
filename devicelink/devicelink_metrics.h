// The device link's part of the metrics page. Any thread.
#pragma once

#include "devicelink/devicelink_counters.h"
#include "platform/metrics_writer.h"

namespace halvyn {

class DeviceLinkMetrics final : public MetricsSource {
 public:
  // counters must outlive this.
  explicit DeviceLinkMetrics(const DeviceLinkCounters& counters) : counters_(counters) {}

  void RenderMetrics(MetricsWriter& out) const override;

 private:
  const DeviceLinkCounters& counters_;
};

}  // namespace halvyn
