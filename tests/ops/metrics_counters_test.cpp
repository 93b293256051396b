// The relay's counters as the dispatcher and the sweep keep them, and the
// /metrics page that shows them. Each test counts into a fresh set.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "console/web/metrics.h"
#include "devicelink/devicelink_metrics.h"
#include "platform/mutex.h"
#include "publicaddress/stun_metrics.h"
#include "relay/liveness_sweep.h"
#include "relay/relay_counters.h"
#include "relay/relay_dispatcher.h"
#include "relay/relay_metrics.h"
#include "routes/route_metrics.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_notices.h"
#include "tests/support/recording_sender.h"
#include "tests/support/relay_datagrams.h"

namespace halvyn {
namespace {

using testing::ConnectRequest;
using testing::NamedRecord;
using testing::RecordForm;

// "name{labels}" -> value, from the page's sample lines that are not 0.
std::map<std::string, uint64_t> NonZeroSamples(const std::string& page) {
  std::map<std::string, uint64_t> samples;
  std::istringstream lines(page);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.rfind(' ');
    if (const uint64_t value = std::stoull(line.substr(space + 1)))
      samples[line.substr(0, space)] = value;
  }
  return samples;
}

class RelayCountersTest : public ::testing::Test {
 protected:
  void Handle(std::vector<uint8_t> datagram, uint16_t port = 40000) {
    dispatcher_.Handle(datagram, {NetworkAddress(127, 0, 0, 1), port});
  }
  // The relay's part of the page; its clients come from the dispatcher's table.
  std::map<std::string, uint64_t> Counted() const {
    const RelayMetrics relay(counters_, table_);
    const MetricsSource* sources[] = {&relay};
    return NonZeroSamples(RenderMetrics(sources, {}));
  }

  ClientTable table_;
  Mutex lock_;
  testing::RecordingSender sender_;
  testing::RecordingNotices notices_;
  testing::FakeClock clock_;
  RelayCounters counters_;
  RelayDispatcher dispatcher_{table_, lock_, sender_, notices_, nullptr, clock_, counters_};
};

TEST_F(RelayCountersTest, EveryDatagramIsCountedOnceAsReceivedOrDroppedWithItsReason) {
  Handle(std::vector<uint8_t>(119, 'p'));                                   // too short
  Handle(std::vector<uint8_t>(120, 'q'));                                   // bad magic
  Handle(RecordForm('z', NamedRecord("alpha")));                            // unhandled
  Handle(RecordForm(0x00, NamedRecord("alpha")));                           // unhandled, letter 0
  Handle(RecordForm('f', NamedRecord("ghost")));                            // unknown name
  Handle(RecordForm('i', NamedRecord("ghost")));                            // unknown name
  Handle(RecordForm('k', NamedRecord("ghost")));                            // unknown name
  Handle(ConnectRequest(NamedRecord("alpha"), "ghost"));                    // unknown name
  Handle(RecordForm('p', NamedRecord("alpha")));                            // no target name
  std::vector<uint8_t> shortRoute = RecordForm('r', NamedRecord("alpha"));  // 120 < 228
  Handle(shortRoute);
  EXPECT_EQ(Counted(),
            (std::map<std::string, uint64_t>{
                {R"(halvyn_relay_datagrams_dropped_total{reason="too_short"})", 1},
                {R"(halvyn_relay_datagrams_dropped_total{reason="bad_magic"})", 1},
                {R"(halvyn_relay_datagrams_dropped_total{reason="unhandled_letter"})", 2},
                {R"(halvyn_relay_datagrams_dropped_total{reason="unknown_name"})", 5},
                {R"(halvyn_relay_datagrams_dropped_total{reason="short_route_request"})", 1},
                {R"(halvyn_relay_datagrams_received_total{command="z"})", 1},
                {R"(halvyn_relay_datagrams_received_total{command="0x00"})", 1},
                {R"(halvyn_relay_datagrams_received_total{command="f"})", 1},
                {R"(halvyn_relay_datagrams_received_total{command="i"})", 1},
                {R"(halvyn_relay_datagrams_received_total{command="k"})", 1},
                {R"(halvyn_relay_datagrams_received_total{command="p"})", 2},
                {R"(halvyn_relay_datagrams_received_total{command="r"})", 1},
            }));
  EXPECT_TRUE(sender_.Sent().empty());
}

TEST_F(RelayCountersTest, RepliesAndBroadcastsAreCountedPerDatagramWithTheirBytes) {
  Handle(RecordForm('e', NamedRecord("alpha")), 40001);  // g, then h to alpha (120 bytes)
  Handle(RecordForm('e', NamedRecord("beta")), 40002);   // g, then h to both (240 bytes each)
  Handle(RecordForm('e', NamedRecord("beta")), 40003);   // present: no g, h to both again
  Handle(RecordForm('i', NamedRecord("alpha")));         // i to both (120 bytes each)
  Handle(ConnectRequest(NamedRecord("alpha"), "beta"));  // p forwarded to beta
  Handle(RecordForm('f', NamedRecord("alpha")));         // h to beta (120 bytes)
  EXPECT_EQ(Counted(),
            (std::map<std::string, uint64_t>{
                {"halvyn_relay_clients_online", 1},
                {R"(halvyn_relay_datagrams_received_total{command="e"})", 3},
                {R"(halvyn_relay_datagrams_received_total{command="i"})", 1},
                {R"(halvyn_relay_datagrams_received_total{command="p"})", 1},
                {R"(halvyn_relay_datagrams_received_total{command="f"})", 1},
                {"halvyn_relay_logins_total", 2},
                {"halvyn_relay_logouts_total", 1},
                {R"(halvyn_relay_datagrams_sent_total{kind="reply"})", 3},
                {R"(halvyn_relay_bytes_sent_total{kind="reply"})", 360},
                {R"(halvyn_relay_datagrams_sent_total{kind="broadcast"})", 8},
                {R"(halvyn_relay_bytes_sent_total{kind="broadcast"})", 120 + 480 + 480 + 240 + 120},
            }));
  EXPECT_EQ(sender_.Sent().size(), 11u);
}

TEST_F(RelayCountersTest, SweepCountsEachTimeout) {
  Handle(RecordForm('e', NamedRecord("alpha")), 40001);
  Handle(RecordForm('e', NamedRecord("beta")), 40002);
  EXPECT_EQ(SweepSilentClients(table_, lock_, notices_, counters_, clock_.Now() + kSilenceLimitMs),
            2);
  EXPECT_EQ(counters_.timeouts.Value(), 2u);
}

TEST(MetricsPage, EveryFamilyHasHelpAndTypeBeforeItsSamplesAndGaugesComeFromTheCaller) {
  // Every subsystem's part, with 3 clients online and 2 route slots allocated.
  ClientTable table;
  for (const char* name : {"a", "b", "c"}) table.Add(NamedRecord(name));
  RouteState routes;
  CRouteInfo request;
  request.set_tx_chan_count(1);
  ASSERT_TRUE(routes.AllocateRoute(request));
  ASSERT_TRUE(routes.AllocateRoute(request));
  const RelayCounters relayCounters;
  const RouteCounters routeCounters;
  const DeviceLinkCounters deviceLinkCounters;
  const StunCounters stunCounters;
  const RelayMetrics relay(relayCounters, table);
  const RouteMetrics route(routeCounters, routes);
  const DeviceLinkMetrics deviceLink(deviceLinkCounters);
  const StunMetrics stun(stunCounters);
  const MetricsSource* sources[] = {&relay, &route, &deviceLink, &stun};

  MetricsGauges gauges;
  gauges.eventStreams = 1;
  gauges.window = MetricsGauges::Window{.relayRunning = true, .routesActive = 1, .lanDevices = 4};
  const std::string page = RenderMetrics(sources, gauges);
  std::istringstream lines(page);
  std::string line, family;
  int samples = 0;
  while (std::getline(lines, line)) {
    if (line.starts_with("# HELP ")) {
      family = line.substr(7, line.find(' ', 7) - 7);
      ASSERT_TRUE(std::getline(lines, line));
      EXPECT_TRUE(line == "# TYPE " + family + " counter" || line == "# TYPE " + family + " gauge")
          << line;
      EXPECT_EQ(line.ends_with(" counter"), family.ends_with("_total")) << family;
      continue;
    }
    ASSERT_FALSE(family.empty()) << line;
    EXPECT_TRUE(line.starts_with(family + " ") || line.starts_with(family + "{")) << line;
    ++samples;
  }
  EXPECT_GT(samples, 30);
  for (const char* expected : {"\nhalvyn_relay_clients_online 3\n", "\nhalvyn_routes_allocated 2\n",
                               "\nhalvyn_console_event_streams 1\n", "\nhalvyn_relay_running 1\n",
                               "\nhalvyn_routes_active 1\n", "\nhalvyn_lan_devices 4\n"}) {
    EXPECT_NE(page.find(expected), std::string::npos) << expected;
  }
  // Without the window, its gauges are left out rather than shown as 0.
  EXPECT_EQ(RenderMetrics(sources, {}).find("halvyn_routes_active"), std::string::npos);
}

}  // namespace
}  // namespace halvyn
