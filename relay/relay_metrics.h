// The relay server's part of the metrics page: its counters, the kernel's
// drops at its socket and the clients online. Any thread.
#pragma once

#include "platform/metrics_writer.h"
#include "relay/client_table.h"
#include "relay/relay_counters.h"

namespace halvyn {

class RelayMetrics final : public MetricsSource {
 public:
  // Both must outlive this.
  RelayMetrics(const RelayCounters& counters, const ClientTable& table)
      : counters_(counters), table_(table) {}

  void RenderMetrics(MetricsWriter& out) const override;

 private:
  const RelayCounters& counters_;
  const ClientTable& table_;
};

}  // namespace halvyn
