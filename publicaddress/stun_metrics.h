// The STUN client's part of the metrics page. Any thread.
#pragma once

#include "platform/metrics_writer.h"
#include "publicaddress/stun_counters.h"

namespace halvyn {

class StunMetrics final : public MetricsSource {
 public:
  // counters must outlive this.
  explicit StunMetrics(const StunCounters& counters) : counters_(counters) {}

  void RenderMetrics(MetricsWriter& out) const override;

 private:
  const StunCounters& counters_;
};

}  // namespace halvyn
