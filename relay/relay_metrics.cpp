#include "relay/relay_metrics.h"

#include <string>
#include <string_view>

#include "platform/udp_socket_drops.h"

namespace halvyn {

namespace {

// The letters the relay port handles; always listed, also at 0.
constexpr std::string_view kHandledLetters = "efikprx";

constexpr std::string_view kDropReasonNames[kRelayDropReasons] = {
    "too_short",     "bad_magic",    "unhandled_letter", "unknown_name", "short_route_request",
    "bad_slot_port", "wrong_source", "release_pending",  "oversized"};

constexpr std::string_view kLimitNames[kRelayLimits] = {"datagrams_per_ip", "names_per_ip",
                                                        "bytes_per_ip", "routes_from_clients"};

// A command letter as a label value: the letter itself when it is a lower- or
// upper-case ASCII letter or digit, otherwise its code as 0xNN (no escaping needed).
std::string LetterLabel(int letter) {
  const bool plain = (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z') ||
                     (letter >= '0' && letter <= '9');
  if (plain) return "command=\"" + std::string(1, char(letter)) + "\"";
  static constexpr char kDigits[] = "0123456789abcdef";
  return std::string("command=\"0x") + kDigits[letter >> 4] + kDigits[letter & 0x0F] + "\"";
}

}  // namespace

void RelayMetrics::RenderMetrics(MetricsWriter& page) const {
  const RelayCounters& relay = counters_;

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
  page.Single("halvyn_relay_receive_buffer_bytes", "gauge",
              "The relay socket's receive buffer as the kernel granted it (0 while stopped).",
              relay.receiveBufferBytes.load(std::memory_order_relaxed));

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
              NonNegative(table_.count()));
  page.Single("halvyn_relay_logins_total", "counter", "Logins that added a client.",
              relay.logins.Value());
  page.Single("halvyn_relay_logouts_total", "counter", "Logouts that removed a client.",
              relay.logouts.Value());
  page.Single("halvyn_relay_timeouts_total", "counter", "Clients dropped by the liveness sweep.",
              relay.timeouts.Value());
}

}  // namespace halvyn
