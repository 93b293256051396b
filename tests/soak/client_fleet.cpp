#include "tests/soak/client_fleet.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/byte_order.h"
#include "relay/relay_client_codec.h"
#include "relay/relay_packet.h"
#include "tests/soak/soak_clock.h"
#include "tests/soak/soak_settings.h"

namespace halvyn::testing::soak {

namespace {

// A "p" carries a sequence number in its sender's own record bytes (which
// the server passes on unchanged), so each delivery can be matched.
constexpr size_t kNonceOffset = client_record::kClientTailOffset;
const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);

std::string NameOf(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "soak-%03d", i);
  return name;
}

std::string Describe(const std::string& name, int64_t since, int64_t at) {
  return name + " (state for " + std::to_string(at - since) + " ms)";
}

}  // namespace

ClientFleet::ClientFleet(InNamespace inNamespace, Ipv4Endpoint relay, std::mt19937_64& random,
                         Findings& findings, const Timeline& timeline)
    : inNamespace_(std::move(inNamespace)),
      relay_(relay),
      random_(random),
      findings_(findings),
      timeline_(timeline),
      clients_(kClientCount),
      ready_(kClientCount) {
  for (int i = 0; i < kClientCount; ++i) {
    Client& c = clients_[size_t(i)];
    c.name = NameOf(i);
    c.keeper = i < kKeeperCount;
    c.record.set_name(c.name);
    // The client's own bytes: a pattern the server must pass on unchanged.
    for (size_t b = 32; b < 48; ++b) c.record.bytes[b] = uint8_t(i + b);
    for (size_t b = client_record::kClientTailOffset; b < client_record::kSize; ++b)
      c.record.bytes[b] = uint8_t(3 * i + b);
    c.record.set_p2p_ip(NetworkAddress(10, 99, uint8_t(i >> 8), uint8_t(i)));
    c.record.set_p2p_port(uint16_t(20000 + i));
    byName_[c.name] = i;
  }
}

std::unique_ptr<UdpSocket> ClientFleet::OpenSocket() {
  std::unique_ptr<UdpSocket> socket;
  inNamespace_([&] {
    auto opened = std::make_unique<UdpSocket>();
    if (opened->Bind({kLoopback, 0}) == 0) socket = std::move(opened);
  });
  return socket;
}

bool ClientFleet::Watch(int i) {
  return poller_.Add(*clients_[size_t(i)].socket, uint64_t(i)) == 0;
}

bool ClientFleet::Open(int64_t now) {
  if (!poller_.valid()) return false;
  bool ok = true;
  inNamespace_([&] {
    for (Client& c : clients_) {
      c.socket = std::make_unique<UdpSocket>();
      ok = ok && c.socket->Bind({kLoopback, 0}) == 0;
    }
  });
  for (int i = 0; i < size() && ok; ++i) ok = Watch(i);
  if (!ok) return false;
  for (int i = 0; i < size(); ++i) {
    // Four in five churners start online.
    if (clients_[size_t(i)].keeper || random_() % 5 != 0) StartLogin(i, now, 0);
  }
  return true;
}

void ClientFleet::SetState(int i, State state, int64_t now) {
  clients_[size_t(i)].state = state;
  clients_[size_t(i)].stateSince = now;
}

void ClientFleet::StartLogin(int i, int64_t now, int64_t delayMs) {
  Client& c = clients_[size_t(i)];
  if (!c.socket) {
    c.socket = OpenSocket();
    if (!c.socket || !Watch(i)) {
      findings_.Add("a client socket could not be opened", c.name);
      c.socket.reset();
      return;
    }
  }
  SetState(i, State::kLoggingIn, now);
  c.loginDueAt = now + delayMs;
  c.firstLoginSent = false;
  c.listedSince = -1;
}

bool ClientFleet::Send(int i, std::span<const uint8_t> datagram, Ipv4Endpoint to) {
  const Client& c = clients_[size_t(i)];
  if (!c.socket) return false;
  ++counters_.sent;
  return c.socket->SendTo(datagram, to);
}

void ClientFleet::SendRecord(int i, uint8_t letter, int64_t now) {
  Client& c = clients_[size_t(i)];
  Send(i, BuildRecordPacket(letter, c.record), relay_);
  if (letter == relay_packet::kKeepAlive || letter == relay_packet::kLogin) c.lastSent = now;
  // Only the first "e" of a login may be the one that adds the record; a
  // repeated "e" for a stored name refreshes nothing.
  if (letter == relay_packet::kKeepAlive || (letter == relay_packet::kLogin && !c.firstLoginSent)) {
    c.refreshLow = now;
  }
  if (letter == relay_packet::kLogin) {
    c.firstLoginSent = true;
    c.loginRecord = c.record;
  }
}

void ClientFleet::Tick(int64_t now) {
  // Each login makes the server send the whole list to every client, which
  // takes it a while: one "e" at a time, the next once the last is answered,
  // so that the relay socket's queue never overflows and drops keep-alives.
  const bool mayLogIn =
      now - lastLogin_ >= Scaled(4) && (lastLoginAnswered_ || now - lastLogin_ >= Scaled(1000));
  bool loggedIn = false;
  for (int i = 0; i < size(); ++i) {
    Client& c = clients_[size_t(i)];
    if (c.state == State::kLoggingIn && now >= c.loginDueAt && mayLogIn && !loggedIn) {
      SendRecord(i, relay_packet::kLogin, now);
      c.loginDueAt = now + Scaled(3000);  // again unless confirmed by then
      lastLogin_ = now;
      lastLoginAnswered_ = false;
      loggedIn = true;
    } else if (c.state == State::kOnline && now >= c.nextKeepAlive) {
      // One keep-alive in twenty reports a new p2p port with it.
      if (random_() % 20 == 0) c.record.set_p2p_port(uint16_t(20000 + random_() % 40000));
      SendRecord(i, relay_packet::kKeepAlive, now);
      c.nextKeepAlive = now + kKeepAliveMs - 500 + int64_t(random_() % 1000);
    }
  }
}

int ClientFleet::RandomClient(bool keepersOnly, State state) {
  const int count = keepersOnly ? kKeeperCount : size();
  for (int attempt = 0; attempt < 32; ++attempt) {
    const int i = int(random_() % uint64_t(count));
    const Client& c = clients_[size_t(i)];
    if (c.state == state && (state != State::kOnline || c.listedSince >= 0)) return i;
  }
  return -1;
}

void ClientFleet::Churn(int64_t now) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int i = kKeeperCount + int(random_() % uint64_t(size() - kKeeperCount));
    Client& c = clients_[size_t(i)];
    if (c.state == State::kOnline && c.listedSince >= 0) {
      if (random_() % 2 == 0) {
        SendRecord(i, relay_packet::kLogout, now);
        SetState(i, State::kLoggedOut, now);
        ++counters_.logouts;
      } else {
        c.socket.reset();  // gone without a word
        SetState(i, State::kVanished, now);
        ++counters_.vanished;
      }
      return;
    }
    if (c.state == State::kOffline && now - c.stateSince > 1000) {
      StartLogin(i, now, 0);
      return;
    }
    if (c.state == State::kLoggedOut && now - c.stateSince > Scaled(3000)) {
      SetState(i, State::kOffline, now);
      return;
    }
  }
}

void ClientFleet::ReportInfo(int64_t now) {
  (void)now;
  const int i = RandomClient(false, State::kOnline);
  if (i < 0) return;
  Client& c = clients_[size_t(i)];
  c.record.set_p2p_ip(NetworkAddress(10, 98, uint8_t(random_()), uint8_t(random_())));
  c.record.set_p2p_port(uint16_t(random_()));
  Send(i, BuildRecordPacket(relay_packet::kInfo, c.record), relay_);
}

void ClientFleet::Connect(int64_t now) {
  (void)now;
  const int sender = RandomClient(false, State::kOnline);
  const int target = RandomClient(true, State::kOnline);
  if (sender < 0 || target < 0) return;
  ClientRecord record = clients_[size_t(sender)].record;
  const uint64_t nonce = nextNonce_++;
  StoreLe32(&record.bytes[kNonceOffset], uint32_t(nonce));
  StoreLe32(&record.bytes[kNonceOffset + 4], uint32_t(nonce >> 32));
  if (connects_.size() >= 4096) connects_.erase(connects_.begin());  // lost ones
  connects_[nonce] = {sender, target, record.bytes};
  Send(sender, BuildConnectRequest(record, clients_[size_t(target)].name), relay_);
  ++counters_.connectsSent;
}

void ClientFleet::ChangeNatPort(int64_t now) {
  // Not client 0 (it reads the lists) nor the route endpoints (routes name their ports).
  const int i = RandomClient(true, State::kOnline);
  if (i <= kRouteEndpointCount) return;
  std::unique_ptr<UdpSocket> socket = OpenSocket();
  if (!socket) {
    findings_.Add("a client socket could not be opened", clients_[size_t(i)].name);
    return;
  }
  clients_[size_t(i)].socket = std::move(socket);
  clients_[size_t(i)].portChangedAt = now;
  if (!Watch(i)) findings_.Add("a client socket could not be watched", clients_[size_t(i)].name);
  SendRecord(i, relay_packet::kKeepAlive, now);
  ++counters_.natChanges;
}

void ClientFleet::OnCleared(int64_t now) {
  for (int i = 0; i < size(); ++i) {
    Client& c = clients_[size_t(i)];
    if (c.state == State::kOnline || c.state == State::kLoggingIn) {
      StartLogin(i, now, int64_t(random_() % uint64_t(Scaled(3000))));
    } else if (c.state == State::kVanished || c.state == State::kLoggedOut) {
      SetState(i, State::kOffline, now);
    }
  }
}

void ClientFleet::Confirm(int i, int64_t at, bool byWindow) {
  Client& c = clients_[size_t(i)];
  if (c.state != State::kLoggingIn) return;
  c.confirmedByWindow = byWindow;
  lastLoginAnswered_ = true;
  SetState(i, State::kOnline, at);
  c.listedSince = at;
  c.nextKeepAlive = at + int64_t(random_() % kKeepAliveMs);
  ++counters_.logins;
}

bool ClientFleet::Settled() const {
  return std::none_of(clients_.begin(), clients_.end(),
                      [](const Client& c) { return c.state == State::kLoggingIn; });
}

int ClientFleet::OnlineCount() const {
  return int(std::count_if(clients_.begin(), clients_.end(),
                           [](const Client& c) { return c.state == State::kOnline; }));
}

void ClientFleet::Poll(int timeoutMs) {
  const size_t readyCount = poller_.Wait(ready_, timeoutMs);
  for (size_t r = 0; r < readyCount; ++r) {
    const int i = int(ready_[r]);
    if (!clients_[size_t(i)].socket) continue;
    ReceiveBatch& batch = i == int(kObserverTag) ? whole_ : small_;
    // Bounded: a socket that never runs dry is served again at the next Poll.
    for (int round = 0; round < 16; ++round) {
      const UdpSocket* socket = clients_[size_t(i)].socket.get();
      if (!socket) break;
      const BatchReceiveResult result = batch.Receive(*socket, /*wait=*/false);
      if (result.status != ReceiveResult::Status::kDatagram) break;
      for (size_t k = 0; k < result.count; ++k) OnDatagram(i, batch.bytes(k), batch.length(k));
      if (result.count < batch.capacity()) break;
    }
  }
}

void ClientFleet::OnDatagram(int i, std::span<const uint8_t> bytes, size_t length) {
  ++counters_.received;
  const std::string& name = clients_[size_t(i)].name;
  const auto packet = RelayPacketView::Of(bytes.first(std::min(length, bytes.size())));
  if (!packet) {
    findings_.Add("a client received a datagram that is no relay packet",
                  name + ": " + std::to_string(length) + " bytes");
    return;
  }
  switch (packet->letter()) {
    case relay_packet::kLoginAccepted:
      CheckLoginReply(i, bytes.first(std::min(length, bytes.size())));
      if (length != relay_packet::kRecordFormSize)
        findings_.Add("\"g\" is not 120 bytes", name + ": " + std::to_string(length));
      break;
    case relay_packet::kClientList:
      ++counters_.lists;
      if (i == int(kObserverTag)) CheckList(bytes, length);
      break;
    case relay_packet::kInfo:
      if (length != relay_packet::kRecordFormSize || packet->count() != 0)
        findings_.Add("\"i\" broadcast malformed", name + ": " + std::to_string(length));
      break;
    case relay_packet::kConnect:
      CheckConnect(i, bytes, length);
      break;
    case 'u':
    case 'v':
    case 't':
    case 's':
      if (routeReply_) routeReply_(i, bytes.first(std::min(length, bytes.size())));
      break;
    default:
      findings_.Add("a client received an unknown letter",
                    name + ": '" + char(packet->letter()) + "'");
  }
}

void ClientFleet::CheckLoginReply(int i, std::span<const uint8_t> bytes) {
  Client& c = clients_[size_t(i)];
  const ClientRecord echoed = RelayPacketView::Of(bytes)->record();
  // The stored record: the client's bytes with the address and port the
  // server saw, and its tick.
  ClientRecord expected = c.loginRecord;
  expected.set_ip(kLoopback);
  expected.set_port(c.socket ? c.socket->LocalEndpoint().port : 0);
  expected.set_last_seen(echoed.last_seen());
  if (echoed != expected)
    findings_.Add("\"g\" does not echo the login record with the source address", c.name);
  Confirm(i, NowMs(), false);
}

void ClientFleet::CheckList(std::span<const uint8_t> bytes, size_t length) {
  if (length % relay_packet::kRecordFormSize != 0 || length > bytes.size()) {
    findings_.Add("\"h\" list of a length that is no whole number of records",
                  std::to_string(length));
    return;
  }
  const ClientListView list(bytes.first(length));
  const size_t n = list.size();
  if (n > size_t(kClientCount))
    findings_.Add("\"h\" list longer than the clients that exist", std::to_string(n));
  std::set<std::string_view> names;
  lastList_.clear();
  lastListAt_ = NowMs();
  for (size_t k = 0; k < n; ++k) {
    if (!list.HasListHeader(k)) {
      findings_.Add("\"h\" block without its header", "block " + std::to_string(k));
      return;
    }
    const ClientRecord record = list.record(k);
    const auto known = byName_.find(record.name());
    if (known == byName_.end()) {
      findings_.Add("\"h\" lists a name no client used", std::string(record.name()));
    } else {
      names.insert(known->first);
      lastList_.insert(known->first);
      if (record.ip() != kLoopback)
        findings_.Add("\"h\" record with an address no client had", known->first);
    }
  }
  if (names.size() != n) findings_.Add("\"h\" lists a name twice", std::to_string(n));
  // Whoever keeps alive is in the table the list was made from.
  const int64_t now = NowMs();
  for (int i = 0; i < size(); ++i) {
    const Client& c = clients_[size_t(i)];
    if (c.state != State::kOnline || c.listedSince < 0 || c.listedSince > now - Scaled(3000) ||
        timeline_.Disturbed(c.listedSince, now))
      continue;
    if (!lastList_.count(c.name))
      findings_.Add("a client that keeps alive is missing from the list the server sends",
                    History(i, now));
    ++counters_.presenceChecks;
  }
}

void ClientFleet::CheckConnect(int i, std::span<const uint8_t> bytes, size_t length) {
  const std::string& name = clients_[size_t(i)].name;
  if (length != relay_packet::kRecordFormSize) {
    findings_.Add("forwarded \"p\" is not 120 bytes", name + ": " + std::to_string(length));
    return;
  }
  const ClientRecord forwarded = RelayPacketView::Of(bytes)->record();
  const uint8_t* record = forwarded.bytes.data();
  const uint64_t nonce =
      LoadLe32(record + kNonceOffset) | uint64_t(LoadLe32(record + kNonceOffset + 4)) << 32;
  const auto sent = connects_.find(nonce);
  if (sent == connects_.end()) {
    findings_.Add("a \"p\" arrived that no client sent (or twice)", name);
    return;
  }
  if (sent->second.target != i)
    findings_.Add("a \"p\" reached another client than the one named",
                  name + " instead of " + clients_[size_t(sent->second.target)].name);
  if (!std::equal(sent->second.record.begin(), sent->second.record.end(), record))
    findings_.Add("a forwarded \"p\" differs from what its sender sent", name);
  connects_.erase(sent);
  ++counters_.connectsDelivered;
}

std::string ClientFleet::History(int i, int64_t at) const {
  const Client& c = clients_[size_t(i)];
  std::string text = c.name + ": listed " + std::to_string(at - c.listedSince) + " ms ago (by " +
                     (c.confirmedByWindow ? "the window" : "\"g\"") + "), last \"e\"/\"k\" " +
                     std::to_string(at - c.lastSent) + " ms ago";
  if (c.portChangedAt >= 0)
    text += ", new port " + std::to_string(at - c.portChangedAt) + " ms ago";
  text += lastList_.count(c.name) ? ", in" : ", not in";
  text += " the list of " + std::to_string(at - lastListAt_) + " ms ago";
  return text;
}

void ClientFleet::CheckWindowList(const WindowSnapshot& snapshot, int64_t slackMs) {
  std::set<std::string> listed;
  for (const std::string& name : snapshot.remoteDevices) {
    if (!listed.insert(name).second) findings_.Add("the window lists a name twice", name);
    if (!byName_.count(name)) findings_.Add("the window lists a name no client used", name);
  }
  const int64_t from = snapshot.sentAt;
  const int64_t to = snapshot.answeredAt;
  for (int i = 0; i < size(); ++i) {
    Client& c = clients_[size_t(i)];
    const bool shown = listed.count(c.name) != 0;
    if (c.state == State::kLoggingIn) {
      // A login whose "g" was lost (or which found its name still stored) shows here.
      if (shown && c.firstLoginSent && c.stateSince < from &&
          !timeline_.Disturbed(c.stateSince, to))
        Confirm(i, to, true);
      continue;
    }
    if (c.stateSince > from - slackMs) continue;  // changed too recently to judge
    const bool wasListed = c.listedSince >= 0 && c.listedSince < from - slackMs;
    switch (c.state) {
      case State::kOnline:
        if (wasListed && !timeline_.Disturbed(c.listedSince, to)) {
          if (!shown)
            findings_.Add("a client that keeps alive is missing from the window", History(i, to));
          ++counters_.presenceChecks;
        }
        break;
      case State::kVanished:
        if (wasListed && !shown && to < c.refreshLow + kSilenceLimitMs - 20 &&
            !timeline_.Disturbed(c.listedSince, to)) {
          findings_.Add("a silent client was dropped before 24.6 s of silence",
                        c.name + " after " + std::to_string(to - c.refreshLow) + " ms");
        }
        if (shown && from > c.lastSent + kSilenceLimitMs + kSweepPeriodMs + slackMs &&
            !timeline_.Disturbed(c.lastSent, from)) {
          findings_.Add("a silent client is still listed after the sweep's limit",
                        c.name + " after " + std::to_string(from - c.lastSent) + " ms");
        }
        if (!shown && from > c.lastSent + kSilenceLimitMs) {
          if (!timeline_.Disturbed(c.lastSent, from)) ++counters_.dropsSeen;
          SetState(i, State::kOffline, to);
        }
        break;
      case State::kLoggedOut:
        if (shown && !timeline_.Disturbed(c.stateSince, from))
          findings_.Add("a client is still listed after its logout",
                        Describe(c.name, c.stateSince, from));
        break;
      case State::kOffline:
        if (shown && !timeline_.Disturbed(c.stateSince, to))
          findings_.Add("a client that is gone is listed", Describe(c.name, c.stateSince, from));
        break;
      case State::kLoggingIn:
        break;
    }
  }
}

}  // namespace halvyn::testing::soak
