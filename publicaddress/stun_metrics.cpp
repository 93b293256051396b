#include "publicaddress/stun_metrics.h"

#include <string_view>

namespace halvyn {

void StunMetrics::RenderMetrics(MetricsWriter& page) const {
  page.Single("halvyn_stun_requests_sent_total", "counter", "STUN Binding Requests sent.",
              counters_.requestsSent.Value());
  constexpr std::string_view kAnswers = "halvyn_stun_answers_total";
  page.Family(kAnswers, "counter",
              "Datagrams read from the device socket: accepted (a STUN answer with a mapped "
              "address) or rejected.");
  page.Sample(kAnswers, "result=\"accepted\"", counters_.answersAccepted.Value());
  page.Sample(kAnswers, "result=\"rejected\"", counters_.answersRejected.Value());
  page.Single("halvyn_device_socket_oversized_total", "counter",
              "Datagrams on the device socket longer than its receive buffer: dropped unread.",
              counters_.oversized.Value());
}

}  // namespace halvyn
