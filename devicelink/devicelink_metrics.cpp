#include "devicelink/devicelink_metrics.h"

#include <string_view>

namespace halvyn {

void DeviceLinkMetrics::RenderMetrics(MetricsWriter& page) const {
  page.Single("halvyn_device_register_writes_total", "counter",
              "Register-write datagrams sent to LAN devices.", counters_.registerWrites.Value());
  page.Single("halvyn_device_setup_datagrams_total", "counter",
              "Set-up datagrams sent to selected LAN devices.", counters_.setupDatagrams.Value());
  constexpr std::string_view kAnnouncements = "halvyn_device_announcements_total";
  page.Family(kAnnouncements, "counter",
              "Device announcements: accepted (a new device), known (from a device already "
              "listed) and ignored (not a valid announcement).");
  page.Sample(kAnnouncements, "result=\"accepted\"", counters_.announcementsAccepted.Value());
  page.Sample(kAnnouncements, "result=\"known\"", counters_.announcementsKnown.Value());
  page.Sample(kAnnouncements, "result=\"ignored\"", counters_.announcementsIgnored.Value());
}

}  // namespace halvyn
