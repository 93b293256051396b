#include "relay/relay_dispatcher.h"

#include <cstring>
#include <string_view>

#include "relay/broadcasts.h"
#include "relay/relay_counters.h"
#include "relay/relay_packet.h"

namespace halvyn {

using namespace relay_packet;

namespace {

ClientRecord RecordOf(std::span<const uint8_t> packet) {
  return ClientRecord::FromBytes(packet.data() + kRecordOffset);
}

}  // namespace

RelayDispatcher::RelayDispatcher(ClientTable& table, Mutex& clientTableLock,
                                 const DatagramSender& socket, RelayNotices& notices,
                                 RouteCommands* routes, const TickClock& clock)
    : table_(table),
      clientTableLock_(clientTableLock),
      socket_(socket),
      notices_(notices),
      routes_(routes),
      clock_(clock) {}

void RelayDispatcher::Handle(std::span<uint8_t> datagram, Ipv4Endpoint source) {
  if (!IsAccepted(datagram)) {
    relayCounters.Drop(datagram.size() < kMinimumSize ? RelayDrop::kTooShort
                                                      : RelayDrop::kBadMagic);
    return;
  }
  datagram[kNameTerminatorOffset] = 0;
  relayCounters.received[datagram[kCommandOffset]].Add();
  switch (datagram[kCommandOffset]) {
    case kLogin:
      Login(datagram, source);
      break;
    case kLogout:
      Logout(datagram);
      break;
    case kInfo:
      Info(datagram);
      break;
    case kKeepAlive:
      KeepAlive(datagram, source);
      break;
    case kConnect:
      Connect(datagram);
      break;
    case kRouteRequest:
      if (datagram.size() < kRouteFormSize) {
        relayCounters.Drop(RelayDrop::kShortRouteRequest);
      } else if (routes_) {
        routes_->HandleRouteRequest(datagram, source, socket_);
      }
      break;
    case kRouteRelease:
      if (routes_) routes_->HandleRouteRelease(datagram, source, socket_);
      break;
    default:
      relayCounters.Drop(RelayDrop::kUnhandledLetter);  // no answer
      break;
  }
}

void RelayDispatcher::Login(std::span<uint8_t> packet, Ipv4Endpoint source) {
  ClientRecord record = RecordOf(packet);
  record.set_ip(source.address);
  record.set_port(source.port);
  record.set_last_seen(clock_.Now());
  std::memcpy(packet.data() + kRecordOffset, record.bytes.data(), ClientRecord::kSize);
  bool added;
  {
    MutexLock lock(clientTableLock_);
    added = table_.Add(record);
  }
  if (added) {
    relayCounters.logins.Add();
    packet[kCommandOffset] = kLoginAccepted;
    relayCounters.Reply(socket_.SendTo(packet.first(kRecordFormSize), source), kRecordFormSize);
    notices_.SendClientLogin(record);
  }
  BroadcastClientList(table_, socket_);
}

void RelayDispatcher::Logout(std::span<uint8_t> packet) {
  const ClientRecord record = RecordOf(packet);
  bool removed;
  {
    MutexLock lock(clientTableLock_);
    removed = table_.Remove(record.name());
  }
  if (!removed) {
    relayCounters.Drop(RelayDrop::kUnknownName);
    return;
  }
  relayCounters.logouts.Add();
  BroadcastClientList(table_, socket_);
  notices_.SendClientLogout(record);
}

void RelayDispatcher::Info(std::span<uint8_t> packet) {
  const ClientRecord report = RecordOf(packet);
  std::optional<ClientRecord> updated;
  {
    MutexLock lock(clientTableLock_);
    table_.Update(report.name(), [&](ClientRecord& stored) {
      stored.set_p2p_ip(report.p2p_ip());
      stored.set_p2p_port(report.p2p_port());
      updated = stored;
    });
  }
  if (!updated) {
    relayCounters.Drop(RelayDrop::kUnknownName);
    return;
  }
  BroadcastClientInfo(table_, socket_, *updated);
  notices_.SendClientInfo(*updated);
}

void RelayDispatcher::KeepAlive(std::span<uint8_t> packet, Ipv4Endpoint source) {
  const ClientRecord report = RecordOf(packet);
  MutexLock lock(clientTableLock_);
  bool p2pChanged = false;
  ClientRecord stored;
  const bool found = table_.Update(report.name(), [&](ClientRecord& record) {
    record.set_last_seen(clock_.Now());
    if (record.port() != source.port) record.set_port(source.port);  // a new NAT port
    if (record.p2p_port() != report.p2p_port()) {
      record.set_p2p_ip(report.p2p_ip());
      record.set_p2p_port(report.p2p_port());
      p2pChanged = true;
      stored = record;
    }
  });
  if (!found) relayCounters.Drop(RelayDrop::kUnknownName);
  // Told while the lock is still held, as the keep-alive is one step for the sweeper.
  if (found && p2pChanged) notices_.SendClientInfo(stored);
}

void RelayDispatcher::Connect(std::span<uint8_t> packet) {
  // The target's name must end inside the datagram; a name cut off by the end
  // of the datagram names no client.
  if (packet.size() <= kTargetNameOffset) {
    relayCounters.Drop(RelayDrop::kUnknownName);
    return;
  }
  const char* target = reinterpret_cast<const char*>(packet.data() + kTargetNameOffset);
  const size_t room = packet.size() - kTargetNameOffset;
  const void* zero = std::memchr(target, 0, room);
  if (!zero) {
    relayCounters.Drop(RelayDrop::kUnknownName);
    return;
  }
  const std::string_view name(target, size_t(static_cast<const char*>(zero) - target));
  std::optional<ClientRecord> destination;
  {
    MutexLock lock(clientTableLock_);
    destination = table_.Find(name);
  }
  if (!destination) {
    relayCounters.Drop(RelayDrop::kUnknownName);
    return;
  }
  relayCounters.Reply(
      socket_.SendTo(packet.first(kRecordFormSize), {destination->ip(), destination->port()}),
      kRecordFormSize);
  notices_.PostForwardConnect();
}

}  // namespace halvyn
