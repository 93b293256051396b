#include "console/web/metrics.h"

#include <cstdint>
#include <string_view>

#include "devicelink/devicelink_counters.h"
#include "platform/udp_socket_drops.h"
#include "publicaddress/stun_counters.h"
#include "relay/relay_counters.h"
#include "routes/route_counters.h"

namespace halvyn {

namespace {

// The letters the relay port handles; always listed, also at 0.
constexpr std::string_view kHandledLetters = "efikprx";

constexpr std::string_view kDropReasonNames[kRelayDropReasons] = {
    "too_short",           "bad_magic",     "unhandled_letter", "unknown_name",
    "short_route_request", "bad_slot_port", "wrong_source",     "release_pending"};

constexpr std::string_view kLimitNames[kRelayLimits] = {"datagrams_per_ip", "names_per_ip",
                                                        "bytes_per_ip", "routes_from_clients"};

class Page {
 public:
  // A metric's HELP and TYPE lines; its samples follow.
  void Family(std::string_view name, std::string_view type, std::string_view help) {
    text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
    text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
  }
  // labels: empty, or `name="value"` pairs already escaped.
  void Sample(std::string_view name, std::string_view labels, uint64_t value) {
    text_.append(name);
    if (!labels.empty()) text_.append("{").append(labels).append("}");
    text_.append(" ").append(std::to_string(value)).append("\n");
  }
  void Single(std::string_view name, std::string_view type, std::string_view help, uint64_t value) {
    Family(name, type, help);
    Sample(name, "", value);
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// A command letter as a label value: the letter itself when it is a lower- or
// upper-case ASCII letter or digit, otherwise its code as 0xNN (no escaping needed).
std::string LetterLabel(int letter) {
  const bool plain = (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z') ||
                     (letter >= '0' && letter <= '9');
  if (plain) return "command=\"" + std::string(1, char(letter)) + "\"";
  static constexpr char kDigits[] = "0123456789abcdef";
  return std::string("command=\"0x") + kDigits[letter >> 4] + kDigits[letter & 0x0F] + "\"";
}

uint64_t NonNegative(int value) {
  return value < 0 ? 0 : uint64_t(value);
}

}  // namespace

std::string RenderMetrics(const MetricsGauges& gauges) {
  Page page;
  const RelayCounters& relay = relayCounters;

  constexpr std::string_view kReceived = "halvyn_relay_datagrams_received_total";
  page.Family(kReceived, "counter",
              "Relay packets received (120 bytes or more, beginning \"pr\"), by command letter.");
  for (int letter = 0; letter < 256; ++letter) {
    const uint64_t count = relay.received[size_t(letter)].Value();
    if (count != 0 || kHandledLetters.find(char(letter)) != std::string_view::npos)
      page.Sample(kReceived, LetterLabel(letter), count);
  }

  constexpr std::string_view kDropped = "halvyn_relay_datagrams_dropped_total";
  page.Family(kDropped, "counter",
              "Datagrams on the relay port dropped without an answer, by reason.");
  for (size_t reason = 0; reason < kRelayDropReasons; ++reason) {
    page.Sample(kDropped, "reason=\"" + std::string(kDropReasonNames[reason]) + "\"",
                relay.dropped[reason].Value());
  }

  constexpr std::string_view kLimited = "halvyn_relay_limited_total";
  page.Family(kLimited, "counter",
              "Datagrams a per-address limit refused: received ones dropped (datagrams_per_ip), "
              "logins refused (names_per_ip), sends held back (bytes_per_ip), route commands "
              "refused (routes_from_clients).");
  for (size_t limit = 0; limit < kRelayLimits; ++limit) {
    page.Sample(kLimited, "limit=\"" + std::string(kLimitNames[limit]) + "\"",
                relay.limited[limit].Value());
  }
  page.Single("halvyn_relay_lists_merged_total", "counter",
              "Client list changes merged into a later list by the list byte budget.",
              relay.listsMerged.Value());
  page.Single("halvyn_relay_unaddressed_replies_total", "counter",
              "Route replies not sent because they were addressed to 0.0.0.0 or port 0.",
              relay.unaddressedReplies.Value());
  const uint32_t port = relay.boundPort.load(std::memory_order_relaxed);
  page.Single("halvyn_relay_socket_drops_total", "counter",
              "Datagrams the kernel dropped at the relay socket (receive buffer full); 0 while "
              "stopped.",
              port == 0 ? 0 : UdpSocketDrops(uint16_t(port)));

  constexpr std::string_view kSent = "halvyn_relay_datagrams_sent_total";
  page.Family(kSent, "counter",
              "Datagrams sent from the relay port: replies (g, forwarded p, u, v, t, s) and "
              "broadcasts (h, i; one per destination).");
  page.Sample(kSent, "kind=\"reply\"", relay.replies.Value());
  page.Sample(kSent, "kind=\"broadcast\"", relay.broadcasts.Value());
  constexpr std::string_view kBytes = "halvyn_relay_bytes_sent_total";
  page.Family(kBytes, "counter", "UDP payload bytes sent from the relay port.");
  page.Sample(kBytes, "kind=\"reply\"", relay.replyBytes.Value());
  page.Sample(kBytes, "kind=\"broadcast\"", relay.broadcastBytes.Value());
  page.Single("halvyn_relay_send_failures_total", "counter",
              "Sends from the relay port that the kernel refused or the bytes_per_ip limit "
              "held back.",
              relay.sendFailures.Value());

  page.Single("halvyn_relay_clients_online", "gauge", "Clients in the client table.",
              NonNegative(gauges.clientsOnline));
  page.Single("halvyn_relay_logins_total", "counter", "Logins that added a client.",
              relay.logins.Value());
  page.Single("halvyn_relay_logouts_total", "counter", "Logouts that removed a client.",
              relay.logouts.Value());
  page.Single("halvyn_relay_timeouts_total", "counter", "Clients dropped by the liveness sweep.",
              relay.timeouts.Value());

  page.Single("halvyn_routes_allocated", "gauge", "Route slots allocated.",
              NonNegative(gauges.routesAllocated));
  constexpr std::string_view kRequests = "halvyn_route_requests_total";
  page.Family(kRequests, "counter", "Route requests, by result (refused: slot port 0).");
  page.Sample(kRequests, "result=\"granted\"", routeCounters.granted.Value());
  page.Sample(kRequests, "result=\"refused\"", routeCounters.refused.Value());

  page.Single("halvyn_device_register_writes_total", "counter",
              "Register-write datagrams sent to LAN devices.",
              deviceLinkCounters.registerWrites.Value());
  page.Single("halvyn_device_setup_datagrams_total", "counter",
              "Set-up datagrams sent to selected LAN devices.",
              deviceLinkCounters.setupDatagrams.Value());
  constexpr std::string_view kAnnouncements = "halvyn_device_announcements_total";
  page.Family(kAnnouncements, "counter",
              "Device announcements: accepted (a new device), known (from a device already "
              "listed) and ignored (not a valid announcement).");
  page.Sample(kAnnouncements, "result=\"accepted\"",
              deviceLinkCounters.announcementsAccepted.Value());
  page.Sample(kAnnouncements, "result=\"known\"", deviceLinkCounters.announcementsKnown.Value());
  page.Sample(kAnnouncements, "result=\"ignored\"",
              deviceLinkCounters.announcementsIgnored.Value());

  page.Single("halvyn_stun_requests_sent_total", "counter", "STUN Binding Requests sent.",
              stunCounters.requestsSent.Value());
  constexpr std::string_view kAnswers = "halvyn_stun_answers_total";
  page.Family(kAnswers, "counter",
              "Datagrams read from the device socket: accepted (a STUN answer with a mapped "
              "address) or rejected.");
  page.Sample(kAnswers, "result=\"accepted\"", stunCounters.answersAccepted.Value());
  page.Sample(kAnswers, "result=\"rejected\"", stunCounters.answersRejected.Value());

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
