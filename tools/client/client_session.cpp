#include "tools/client/client_session.h"

#include <vector>

#include "relay/relay_packet.h"
#include "routes/route_packets.h"
#include "tools/client/datagram_text.h"

namespace halvyn {

namespace {

// Larger than any UDP datagram, so nothing is ever cut.
constexpr size_t kReceiveBufferSize = 65536;

using Clock = std::chrono::steady_clock;

}  // namespace

ClientSession::ClientSession(UdpSocket& socket, Ipv4Endpoint server, const ClientRecord& self,
                             LineOutput& out)
    : socket_(socket), server_(server), out_(out), self_(self) {}

ClientSession::~ClientSession() {
  Stop();
  if (receiver_.joinable()) receiver_.join();
  if (keepAlive_.joinable()) keepAlive_.join();
}

void ClientSession::Start(uint32_t keepAliveIntervalMs) {
  receiver_ = std::thread([this] { ReceiveLoop(); });
  if (keepAliveIntervalMs > 0)
    keepAlive_ = std::thread([this, keepAliveIntervalMs] { KeepAliveLoop(keepAliveIntervalMs); });
}

void ClientSession::Stop() {
  {
    MutexLock lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
  socket_.Close();
}

bool ClientSession::failed() const {
  MutexLock lock(mutex_);
  return failed_;
}

void ClientSession::ReportError(const std::string& text) {
  {
    MutexLock lock(mutex_);
    failed_ = true;
  }
  out_.Print("error " + text);
}

void ClientSession::LogOutAfterFailure() {
  {
    MutexLock lock(mutex_);
    if (!failed_ || stopped_) return;
  }
  if (!loggedIn_) return;
  Send(BuildRecordPacket(relay_packet::kLogout, Self()), server_);
  loggedIn_ = false;
}

ClientRecord ClientSession::Self() {
  MutexLock lock(mutex_);
  return self_;
}

// The line comes first, so a reply can never be printed before what it answers.
void ClientSession::Send(const Datagram& datagram, Ipv4Endpoint destination) {
  out_.Print(DescribeDatagram(Direction::kSent, datagram, destination));
  if (!socket_.SendTo(datagram, destination)) {
    ReportError("send failed: " + std::string(1, char(datagram[relay_packet::kCommandOffset])) +
                " to " + EndpointText(destination));
  }
}

bool ClientSession::Execute(const ClientCommand& command) {
  {
    MutexLock lock(mutex_);
    if (stopped_) return false;
  }
  using Kind = ClientCommand::Kind;
  switch (command.kind) {
    case Kind::kNothing:
      break;
    case Kind::kLogin:
      Send(BuildRecordPacket(relay_packet::kLogin, Self()), server_);
      loggedIn_ = true;
      break;
    case Kind::kLogout:
      Send(BuildRecordPacket(relay_packet::kLogout, Self()), server_);
      loggedIn_ = false;
      break;
    case Kind::kKeepAlive:
    case Kind::kInfo: {
      ClientRecord self;
      {
        MutexLock lock(mutex_);
        if (command.p2p) {
          self_.set_p2p_ip(command.p2p->address);
          self_.set_p2p_port(command.p2p->port);
        }
        self = self_;
      }
      const uint8_t letter =
          command.kind == Kind::kInfo ? relay_packet::kInfo : relay_packet::kKeepAlive;
      Send(BuildRecordPacket(letter, self), server_);
      break;
    }
    case Kind::kConnect:
      Send(BuildConnectRequest(Self(), command.text), server_);
      break;
    case Kind::kRoute:
      Route(command.route);
      break;
    case Kind::kProbe:
      Send(BuildRecordPacket(route_packet::kProbe, Self()), {server_.address, command.port});
      break;
    case Kind::kRelease:
      Send(BuildRouteRelease(Self(), command.port), server_);
      break;
    case Kind::kWait:
      return WaitUntil(Clock::now() + std::chrono::milliseconds(command.milliseconds));
    case Kind::kExpect: {
      const uint8_t letter = uint8_t(command.text[0]);
      const bool arrived = Expect(letter, command.milliseconds);
      out_.Print("expect " + command.text + (arrived ? " ok" : " timeout"));
      if (!arrived) {
        MutexLock lock(mutex_);
        failed_ = true;
      }
      break;
    }
    case Kind::kEcho:
      out_.Print(command.text.empty() ? "echo" : "echo " + command.text);
      break;
    case Kind::kQuit:
      return false;
  }
  MutexLock lock(mutex_);
  return !stopped_;
}

void ClientSession::Route(const RouteArguments& arguments) {
  const auto tx = arguments.tx ? arguments.tx : AddressOf(arguments.txName);
  const auto rx = arguments.rx ? arguments.rx : AddressOf(arguments.rxName);
  for (const auto& [endpoint, name] : {std::pair{tx, arguments.txName}, {rx, arguments.rxName}}) {
    if (!endpoint) {
      ReportError("no address known for " + FieldText(name) + " (not in the last list)");
      return;
    }
  }
  CRouteInfo route;
  route.set_tx_name(arguments.txName);
  route.set_tx_ip(tx->address);
  route.set_tx_port(tx->port);
  route.set_tx_chan_count(arguments.txChanCount);
  route.set_rx_name(arguments.rxName);
  route.set_rx_ip(rx->address);
  route.set_rx_port(rx->port);
  route.set_rx_chan_count(arguments.rxChanCount);
  route.set_tx_param(arguments.txParam);
  Send(BuildRouteRequest(Self(), route), server_);
}

std::optional<Ipv4Endpoint> ClientSession::AddressOf(const std::string& name) {
  MutexLock lock(mutex_);
  const auto found = addresses_.find(name);
  if (found == addresses_.end()) return std::nullopt;
  return found->second;
}

bool ClientSession::WaitUntil(Clock::time_point deadline) {
  MutexLock lock(mutex_);
  while (!stopped_ && Clock::now() < deadline) WaitLocked(mutex_, changed_, deadline);
  return !stopped_;
}

bool ClientSession::Expect(uint8_t letter, uint32_t timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  MutexLock lock(mutex_);
  while (unclaimed_[letter] == 0 && !stopped_ && Clock::now() < deadline)
    WaitLocked(mutex_, changed_, deadline);
  if (unclaimed_[letter] == 0) return false;
  --unclaimed_[letter];
  return true;
}

void ClientSession::Remember(std::span<const uint8_t> datagram) {
  const auto packet = RelayPacketView::Of(datagram);
  if (!packet) return;
  const uint8_t letter = packet->letter();
  if (letter != relay_packet::kLoginAccepted && letter != relay_packet::kClientList) return;
  // A new list replaces the old one; a "g" adds the client's own entry.
  if (letter == relay_packet::kClientList) addresses_.clear();
  const ClientListView records(datagram);
  for (size_t k = 0; k < records.size(); ++k) {
    const ClientRecord record = records.record(k);
    addresses_[std::string(record.name())] = {record.ip(), record.port()};
  }
}

void ClientSession::ReceiveLoop() {
  std::vector<uint8_t> buffer(kReceiveBufferSize);
  while (true) {
    const ReceiveResult result = socket_.Receive(buffer);
    if (result.status == ReceiveResult::Status::kClosed) return;
    // An error on a UDP socket (an ICMP answer to an earlier send) belongs to
    // no datagram; the next receive goes on.
    if (result.status != ReceiveResult::Status::kDatagram) continue;
    const std::span<const uint8_t> datagram(buffer.data(), result.size);
    out_.Print(DescribeDatagram(Direction::kReceived, datagram, result.source));
    {
      MutexLock lock(mutex_);
      Remember(datagram);
      if (const auto packet = RelayPacketView::Of(datagram)) ++unclaimed_[packet->letter()];
    }
    changed_.notify_all();
  }
}

void ClientSession::KeepAliveLoop(uint32_t intervalMs) {
  while (WaitUntil(Clock::now() + std::chrono::milliseconds(intervalMs)))
    Send(BuildRecordPacket(relay_packet::kKeepAlive, Self()), server_);
}

}  // namespace halvyn
