// Abuse: what one attack on the relay port costs the attacker and what it
// does to the server and to the clients that use it. Each run is one attack
// (--attack) on a fresh server, reached over the veth topology (topology.h):
// legitimate clients, each a host of its own, log in and keep alive, and each
// sends a "p" naming itself every second (its forward back is one "p"
// delivered); an attacker on another address sends the attack. Every run
// watches GET /api/window on the console, ends with a check that each client
// still gets its own forward back (one that does not is lost), and times the
// server's exit on SIGTERM.
//
//   release   "x" for one slot port at --rate for --seconds, then one login:
//             the time to its "g" and until a client's "p" is forwarded again
//   release-sigterm  the same flood, then SIGTERM at once
//   relogin   "e" under a present client's name at --rate for --seconds: bytes
//             the server sends per second
//   victim    fresh names at --rate for --seconds from a socket bound at the
//             victim's address: bytes that reach the victim
//   fresh     fresh names from one address until the table holds more than
//             545, then a relogin of a client: lists the clients get after it
//   keepalive "k" under client 0's name from the attacker at --rate while
//             client 1 sends "p" naming client 0 at 50/s: the share delivered
//   logout    one "f" under client 0's name from the attacker, then the same
//             "p" stream
//   info      one "i" under client 0's name from the attacker with another p2p
//             address: how many clients are told the forged address
//   routes    route request and release from one socket at --rate each, for
//             --seconds: message boxes the operator gets
//   nowhere   route requests and releases whose addresses are 0.0.0.0:
//             datagrams that land on the server host's own UDP 4440 and on
//             the route's port
#include <algorithm>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "bench/measurement.h"
#include "bench/scenario.h"
#include "bench/server_side.h"
#include "bench/topology.h"
#include "platform/udp_socket.h"
#include "relay/client_record.h"
#include "relay/relay_packet.h"
#include "routes/route_info.h"
#include "routes/route_packets.h"

namespace halvyn::bench {

namespace {

using namespace relay_packet;

constexpr uint64_t kSecondNs = 1'000'000'000;
constexpr uint64_t kKeepAliveNs = 2 * kSecondNs;
constexpr uint64_t kProbeNs = kSecondNs;
constexpr uint8_t kSelfProbe = 1;           // stamp phase of a client's "p" to itself
constexpr uint8_t kStreamProbe = 2;         // stamp phase of the "p" stream to client 0
constexpr uint32_t kFinalRound = 0xFFFFFF;  // stamp sequence of Lost()'s probes
constexpr double kStreamRate = 50;
constexpr uint16_t kFirstSlotPort = 14367;
constexpr uint16_t kLastSlotPort = 14398;
constexpr size_t kReceiveSize = 256;

// The legitimate clients and what they get.
class Site {
 public:
  Site(size_t clients, uint16_t port)
      : server_{TopologyServer(), port},
        set_(clients, kReceiveSize, TopologyClient, 1 << 20),
        nextKeepAlive_(clients),
        nextProbe_(clients) {}

  bool ok() const { return set_.ok(); }
  ClientSet& set() { return set_; }
  Ipv4Endpoint server() const { return server_; }
  std::string Name(size_t i) const { return ClientName("c", i); }

  bool LogIn() {
    if (!LogInAll(set_, "c", server_)) return false;
    const uint64_t now = NowNs();
    for (size_t i = 0; i < set_.size(); ++i) {
      nextKeepAlive_[i] = now + kKeepAliveNs * i / set_.size();
      nextProbe_[i] = now + kProbeNs * i / set_.size();
    }
    return true;
  }

  // A stream of "p" from client 1 naming client 0 at kStreamRate while Run runs.
  void StreamToFirst(bool on) { stream_ = on && set_.size() > 1; }

  // Runs for seconds (or until done() says so): keep-alives, self probes, the
  // stream, and attack(n) with the n attacks due at rate. Everything received
  // is counted; datagrams that are not forwards go to onOther.
  void Run(double seconds, double rate, const std::function<void(size_t)>& attack,
           const std::function<bool()>& done = {}) {
    const uint64_t start = NowNs();
    const uint64_t end = start + uint64_t(seconds * 1e9);
    uint64_t attacks = 0, streamed = 0;
    for (uint64_t now = start; now < end; now = NowNs()) {
      if (done && done()) break;
      if (rate > 0 && attack) {
        const uint64_t target = uint64_t(double(now - start) / 1e9 * rate) + 1;
        if (target > attacks) {
          const uint64_t due = std::min<uint64_t>(target - attacks, 256);
          attack(size_t(due));
          attacks += due;
        }
      }
      for (size_t i = 0; i < set_.size(); ++i) {
        if (now >= nextKeepAlive_[i]) {
          uint8_t k[kRecordFormSize];
          WriteRecordForm(k, kKeepAlive, Name(i));
          set_.socket(i).SendTo(k, server_);
          nextKeepAlive_[i] += kKeepAliveNs;
        }
        if (now >= nextProbe_[i]) {
          SendProbe(i, i, kSelfProbe);
          nextProbe_[i] += kProbeNs;
        }
      }
      if (stream_) {
        const auto due = uint64_t(double(now - start) / 1e9 * kStreamRate) + 1;
        for (; streamed < due; ++streamed) SendProbe(1, 0, kStreamProbe);
      }
      Poll(1);
    }
  }

  void Poll(int timeoutMs) {
    set_.Poll(timeoutMs, [&](size_t i, std::span<uint8_t> bytes, size_t length) {
      bytesReceived += length;
      ++datagrams;
      if (length >= kRecordFormSize && bytes[kCommandOffset] == kClientList) ++lists;
      const std::optional<Stamp> stamp = ReadReply(Target::kHalvyn, bytes, length, Name(i));
      if (stamp) {
        if ((stamp->tag & 0xFFFFFF) != kFinalRound) {
          ++delivered[stamp->phase() == kStreamProbe];
          latestDeliveredSentNs = std::max(latestDeliveredSentNs, stamp->sentNs);
        } else if (i < answered_.size())
          answered_[i] = true;
        return;
      }
      if (onOther) onOther(i, bytes, length);
    });
  }

  // Every client sends a "p" naming itself (up to three times, 300 ms each);
  // returns how many got none back: clients the server has lost.
  size_t Lost() {
    answered_.assign(set_.size(), false);
    auto missing = [&] { return size_t(std::count(answered_.begin(), answered_.end(), false)); };
    for (int attempt = 0; attempt < 3 && missing() > 0; ++attempt) {
      for (size_t i = 0; i < set_.size(); ++i)
        if (!answered_[i]) SendProbe(i, i, kSelfProbe, kFinalRound);
      const uint64_t end = NowNs() + 300'000'000;
      while (NowNs() < end && missing() > 0) Poll(10);
    }
    return missing();
  }

  uint64_t bytesReceived = 0, datagrams = 0, lists = 0;
  uint64_t sent[2] = {0, 0}, delivered[2] = {0, 0};  // [0]: self probes, [1]: the stream
  uint64_t latestDeliveredSentNs = 0;                // when the latest "p" that came back was sent
  std::function<void(size_t, std::span<uint8_t>, size_t)> onOther;

 private:
  void SendProbe(size_t from, size_t to, uint8_t phase, uint32_t round = 0) {
    uint8_t p[kMaxRequestSize];
    const size_t size =
        WriteRequest(Target::kHalvyn, p, Name(to), {NowNs(), MakeTag(phase, round)});
    set_.socket(from).SendTo(std::span<const uint8_t>(p, size), server_);
    if (round == 0) ++sent[phase == kStreamProbe];
  }

  Ipv4Endpoint server_;
  ClientSet set_;
  std::vector<uint64_t> nextKeepAlive_, nextProbe_;
  bool stream_ = false;
  std::vector<bool> answered_;  // by Lost(): whose final probe came back
};

// A socket on an attacker's address (or, for the victim attack, the victim's).
std::unique_ptr<UdpSocket> AttackerSocket(uint32_t address) {
  auto socket = std::make_unique<UdpSocket>();
  if (socket->Bind({address, 0}) != 0) return nullptr;
  return socket;
}

void WriteRouteRequest(RoutePacket& packet, Ipv4Endpoint tx, Ipv4Endpoint rx) {
  CRouteInfo body;
  body.set_tx_ip(tx.address);
  body.set_tx_port(tx.port);
  body.set_tx_chan_count(1);
  body.set_rx_ip(rx.address);
  body.set_rx_port(rx.port);
  body.set_rx_chan_count(1);
  WriteRecordForm(packet.data(), route_packet::kRequest, "");
  body.WriteTo(std::span<uint8_t, route_info::kSize>(packet.data() + route_packet::kBodyOffset,
                                                     route_info::kSize));
}

std::array<uint8_t, route_packet::kReleaseMinSize> Release(uint16_t slotPort) {
  std::array<uint8_t, route_packet::kReleaseMinSize> x{};
  WriteRecordForm(x.data(), route_packet::kRelease, "");
  StoreLe16(x.data() + route_packet::kBodyOffset, slotPort);
  return x;
}

// The slot port a "v" carries, or 0.
uint16_t SlotPortOfReply(std::span<const uint8_t> bytes, size_t length) {
  if (length != route_packet::kSize || bytes.size() < route_packet::kSize ||
      bytes[relay_packet::kCommandOffset] != route_packet::kRxReply)
    return 0;
  return RouteBodyOf(bytes)->tx_port();
}

// Reads every datagram waiting on socket; returns how many and adds their bytes.
size_t DrainSocket(const UdpSocket& socket, uint64_t& bytes) {
  uint8_t buffer[route_packet::kSize];
  size_t count = 0;
  for (;;) {
    const ReceiveResult result = socket.ReceiveNow(buffer);
    if (result.status != ReceiveResult::Status::kDatagram) break;
    ++count;
    bytes += result.size;
  }
  return count;
}

}  // namespace

int RunAbuse(const ScenarioOptions& options) {
  const std::string& attack = options.attack;
  const double patience = options.patience;
  Console console(options.serverPid, options.consolePort);
  Site site(options.clients, options.port);
  if (!site.ok()) return CheckFailed("cannot open the client sockets");
  if (!site.LogIn()) return CheckFailed("a client's login was not confirmed");
  // The lists that follow the logins go out before the count starts.
  site.Run(std::min(1.0, options.seconds / 3), 0, {});
  const std::optional<double> bytes0 = console.Metric("halvyn_relay_bytes_sent_total");
  auto attacker = AttackerSocket(TopologyAttacker(0));
  if (!attacker) return CheckFailed("cannot bind the attacker's address");
  const Ipv4Endpoint server = site.server();
  uint64_t attackBytes = 0, attacks = 0;
  auto send = [&](const UdpSocket& from, std::span<const uint8_t> datagram, Ipv4Endpoint to) {
    from.SendTo(datagram, to);
    attackBytes += datagram.size();
    ++attacks;
  };

  WindowWatch watch(options.serverPid, options.consolePort, 200, int(patience));
  ResultLine line("abuse", options.label, attack + options.phaseSuffix);
  line.Add("clients", double(options.clients)).Add("rate", options.moderateRate);
  std::optional<double> bytesAtEnd;
  double attackSeconds = options.seconds;
  // Quiet time after an attack for what it set off: a second in a full run.
  const double settle = std::min(1.0, options.seconds);

  if (attack == "release" || attack == "release-sigterm") {
    const auto x = Release(kFirstSlotPort);
    site.Run(options.seconds, options.moderateRate, [&](size_t n) {
      for (size_t k = 0; k < n; ++k) send(*attacker, x, server);
    });
    if (attack == "release-sigterm") {  // SIGTERM right after the flood
      const std::optional<double> sigterm = SigtermSeconds(options.serverPid, patience);
      watch.Stop();
      line.Add("attacks", double(attacks))
          .Add("attack_bytes", double(attackBytes))
          .Add("sigterm_s", sigterm.value_or(-1))
          .Print();
      return 0;
    }
    // One login right after the flood, by a host that was not there before.
    ClientSet late(1, kReceiveSize, [](size_t) { return TopologyAttacker(1); });
    uint8_t e[kRecordFormSize];
    WriteRecordForm(e, kLogin, "late");
    const uint64_t loginAt = NowNs();
    uint64_t gAt = 0, lastSent = 0;
    site.Run(patience, 0, {}, [&] {
      const uint64_t now = NowNs();
      if (now - lastSent >= kSecondNs) {  // an "e" dropped at a full socket is sent again
        late.socket(0).SendTo(e, server);
        lastSent = now;
      }
      late.Poll(0, [&](size_t, std::span<uint8_t> bytes, size_t length) {
        if (!gAt && length == kRecordFormSize && bytes[kCommandOffset] == kLoginAccepted)
          gAt = NowNs();
      });
      return gAt != 0;
    });
    line.Add("login_g_ms", gAt ? double(gAt - loginAt) / 1e6 : -1);
    // The relay forwards again: a "p" sent after the flood comes back.
    site.Run(patience, 0, {}, [&] { return site.latestDeliveredSentNs > loginAt; });
    line.Add("forwards_again_s",
             site.latestDeliveredSentNs > loginAt ? double(NowNs() - loginAt) / 1e9 : -1);
    site.Run(settle * 3, 0, {});  // keep-alives go on; a sweep after a stall would drop clients
  } else if (attack == "relogin") {
    uint8_t e[kRecordFormSize];
    WriteRecordForm(e, kLogin, site.Name(0));
    const uint64_t received0 = site.bytesReceived;
    site.Run(options.seconds, options.moderateRate, [&](size_t n) {
      for (size_t k = 0; k < n; ++k) send(*attacker, e, server);
    });
    bytesAtEnd = console.Metric("halvyn_relay_bytes_sent_total", int(patience));
    line.Add("client_bytes_per_s", double(site.bytesReceived - received0) / options.seconds);
    site.Run(settle * 2, 0, {});
  } else if (attack == "victim") {
    ClientSet victim(
        1, kReceiveSize, [](size_t) { return TopologyVictim(); }, 16 << 20);
    if (!victim.ok()) return CheckFailed("cannot bind the victim's address");
    uint64_t victimBytes = 0, victimDatagrams = 0, names = 0;
    auto readVictim = [&] {
      victim.Poll(0, [&](size_t, std::span<uint8_t>, size_t length) {
        victimBytes += length;
        ++victimDatagrams;
      });
    };
    const uint64_t end = NowNs() + uint64_t(options.seconds * 1e9);
    site.Run(
        options.seconds, options.moderateRate,
        [&](size_t n) {
          uint8_t e[kRecordFormSize];
          for (size_t k = 0; k < n; ++k) {
            WriteRecordForm(e, kLogin, ClientName("v", names++));
            send(victim.socket(0), e, server);
          }
          readVictim();
        },
        [&] {
          readVictim();
          return NowNs() >= end;
        });
    const uint64_t tail = NowNs() + 500'000'000;
    while (NowNs() < tail) {
      readVictim();
      site.Poll(1);
    }
    line.Add("victim_bytes", double(victimBytes)).Add("victim_datagrams", double(victimDatagrams));
  } else if (attack == "fresh") {
    // Enough fresh names to take the table past 545 with the clients.
    const size_t fakes = 546 + 10 - std::min<size_t>(options.clients, 546);
    size_t names = 0;
    uint8_t e[kRecordFormSize];
    site.Run(
        60, options.moderateRate,
        [&](size_t n) {
          for (size_t k = 0; k < n && names < fakes; ++k) {
            WriteRecordForm(e, kLogin, ClientName("f", names++));
            send(*attacker, e, server);
          }
        },
        [&] { return names >= fakes; });
    site.Run(settle, 0, {});
    attackSeconds = 0;
    line.Add("table", console.Metric("halvyn_relay_clients_online", int(patience)).value_or(-1));
    // A client logs in again; every client should get the list that follows.
    const uint64_t lists0 = site.lists;
    WriteRecordForm(e, kLogin, site.Name(0));
    site.set().socket(0).SendTo(e, server);
    site.Run(settle * 2, 0, {});
    line.Add("lists_after", double(site.lists - lists0));
  } else if (attack == "keepalive" || attack == "logout" || attack == "info") {
    uint8_t forged[kRecordFormSize];
    const uint8_t letter = attack == "keepalive" ? kKeepAlive
                           : attack == "logout"  ? kLogout
                                                 : kInfo;
    WriteRecordForm(forged, letter, site.Name(0));
    size_t toldForged = 0;
    const uint32_t forgedP2p = NetworkAddress(10, 66, 66, 66);
    if (letter == kInfo) {
      ClientRecord record = ClientRecord::At(forged, kRecordOffset).value();
      record.set_p2p_ip(forgedP2p);
      record.set_p2p_port(6666);
      std::memcpy(forged + kRecordOffset, record.bytes.data(), client_record::kSize);
      site.onOther = [&](size_t, std::span<uint8_t> bytes, size_t length) {
        if (length == kRecordFormSize && bytes[kCommandOffset] == kInfo &&
            ClientRecord::At(bytes, kRecordOffset).value().p2p_ip() == forgedP2p)
          ++toldForged;
      };
    }
    site.StreamToFirst(true);
    if (letter == kKeepAlive) {
      site.Run(options.seconds, options.moderateRate, [&](size_t n) {
        for (size_t k = 0; k < n; ++k) send(*attacker, forged, server);
      });
    } else {
      send(*attacker, forged, server);
      attackSeconds = 0;
      site.Run(options.seconds, 0, {});
    }
    site.StreamToFirst(false);
    site.Run(0.3, 0, {});
    line.Add("stream_sent", double(site.sent[1]))
        .Add("stream_delivered", double(site.delivered[1]));
    if (letter == kInfo) line.Add("told_forged", double(toldForged));
  } else if (attack == "routes" || attack == "nowhere") {
    // The attacker's socket reads the replies, to release what it was granted.
    ClientSet own(1, route_packet::kSize, [](size_t) { return TopologyAttacker(2); });
    std::unique_ptr<UdpSocket> landing[2];  // the server host's UDP 4440 and the route's port
    if (attack == "nowhere") {
      InNetworkOf(options.serverPid, [&] {
        for (int k = 0; k < 2; ++k) {
          landing[k] = std::make_unique<UdpSocket>();
          landing[k]->Bind({0, uint16_t(4440 + k)});
        }
      });
    }
    const Ipv4Endpoint self = own.endpoint(0);
    const Ipv4Endpoint nowhere{0, 4441};
    RoutePacket request{};
    WriteRouteRequest(request, attack == "nowhere" ? nowhere : self,
                      attack == "nowhere" ? nowhere : self);
    std::vector<uint16_t> granted;
    size_t grants = 0;
    auto readReplies = [&] {
      own.Poll(0, [&](size_t, std::span<uint8_t> bytes, size_t length) {
        if (const uint16_t slot = SlotPortOfReply(bytes, length)) {
          granted.push_back(slot);
          ++grants;
        }
      });
    };
    const double rate = attack == "nowhere" ? 5 : options.moderateRate;
    site.Run(options.seconds, rate, [&](size_t n) {
      readReplies();
      for (size_t k = 0; k < n; ++k) {
        send(own.socket(0), request, server);
        // A release of what was granted; with nothing granted, of an idle slot.
        const uint16_t slot = granted.empty() ? kLastSlotPort : granted.back();
        if (!granted.empty()) granted.pop_back();
        send(own.socket(0), Release(slot), server);
      }
    });
    for (const uint16_t slot : granted) send(own.socket(0), Release(slot), server);
    site.Run(settle, 0, {});
    line.Add("granted", double(grants));
    if (attack == "nowhere") {
      uint64_t landedBytes = 0;
      size_t landed = 0;
      for (auto& socket : landing)
        if (socket && socket->valid()) landed += DrainSocket(*socket, landedBytes);
      line.Add("landed", double(landed));
    } else {
      const std::optional<std::string> window = console.Get("/api/window", int(patience));
      const auto json = nlohmann::json::parse(window.value_or("{}"), nullptr, false);
      // Boxes the operator must acknowledge: one per entry, or, where identical
      // boxes are merged, the count each entry stands for.
      size_t entries = 0, boxes = 0;
      if (json.is_object() && json.contains("messageBoxes")) {
        entries = json["messageBoxes"].size();
        const auto counts = json.value("messageBoxCounts", nlohmann::json::array());
        for (size_t k = 0; k < entries; ++k)
          boxes += k < counts.size() && counts[k].is_number() ? counts[k].get<size_t>() : 1;
      }
      line.Add("boxes", window ? double(boxes) : -1).Add("box_entries", double(entries));
    }
  } else {
    return CheckFailed("unknown attack " + attack);
  }

  if (!bytesAtEnd) bytesAtEnd = console.Metric("halvyn_relay_bytes_sent_total", int(patience));
  const size_t lost = site.Lost();
  const WindowWatch::Figures window = watch.Stop();
  const std::optional<double> sigterm = SigtermSeconds(options.serverPid, patience);
  const double bytesOut = bytes0 && bytesAtEnd ? *bytesAtEnd - *bytes0 : -1;
  line.Add("attacks", double(attacks))
      .Add("attack_bytes", double(attackBytes))
      .Add("bytes_out", bytesOut)
      .Add("out_per_in", attackBytes && bytesOut >= 0 ? bytesOut / double(attackBytes) : -1)
      .Add("clients_lost", double(lost))
      .Add("p_sent", double(site.sent[0]))
      .Add("p_delivered", double(site.delivered[0]))
      .Add("window_p50_ms", window.p50Ms)
      .Add("window_max_ms", window.maxMs)
      .Add("window_failed", double(window.failed))
      .Add("sigterm_s", sigterm.value_or(-1));
  if (attackSeconds > 0 && bytesOut >= 0) line.Add("bytes_out_per_s", bytesOut / attackSeconds);
  line.Print();
  if (options.check && (window.requests == 0 || !bytes0))
    return CheckFailed("abuse " + attack + ": the console did not answer");
  return 0;
}

}  // namespace halvyn::bench
