#include "relay/relay_dispatcher.h"

#include <cstring>
#include <string_view>

#include "relay/broadcasts.h"
#include "relay/relay_packet.h"

namespace halvyn {

using namespace relay_packet;

RelayDispatcher::RelayDispatcher(ClientTable& table, Mutex& clientTableLock,
                                 const DatagramSender& socket, RelayNotices& notices,
                                 RouteCommands* routes, const TickClock& clock,
                                 RelayCounters& counters, RelayDefences* defences,
                                 const OutgoingBatch* batch)
    : table_(table),
      clientTableLock_(clientTableLock),
      defences_(defences),
      batch_(batch),
      socket_(defences ? defences->sender()
              : batch  ? *batch
                       : socket),
      notices_(notices),
      routes_(routes),
      clock_(clock),
      counters_(counters) {}

void RelayDispatcher::Handle(std::span<uint8_t> datagram, Ipv4Endpoint source) {
  if (defences_ && !defences_->AdmitDatagram(source.address)) return;
  const std::optional<MutableRelayPacketView> packet = MutableRelayPacketView::Of(datagram);
  if (!packet) {
    counters_.Drop(datagram.size() < kMinimumSize ? RelayDrop::kTooShort : RelayDrop::kBadMagic);
    return;
  }
  packet->TerminateName();
  counters_.received[packet->letter()].Add();
  switch (packet->letter()) {
    case kLogin:
      Login(*packet, source);
      break;
    case kLogout:
      Logout(*packet, source);
      break;
    case kInfo:
      Info(*packet, source);
      break;
    case kKeepAlive:
      KeepAlive(*packet, source);
      break;
    case kConnect:
      Connect(*packet);
      break;
    case kRouteRequest:
      if (!packet->isRouteForm()) {
        counters_.Drop(RelayDrop::kShortRouteRequest);
      } else {
        RouteCommand(datagram, source, /*request=*/true);
      }
      break;
    case kRouteRelease:
      RouteCommand(datagram, source, /*request=*/false);
      break;
    default:
      counters_.Drop(RelayDrop::kUnhandledLetter);  // no answer
      break;
  }
}

void RelayDispatcher::FlushReplies() {
  if (batch_) counters_.sendFailures.Add(batch_->Flush());
}

void RelayDispatcher::Login(MutableRelayPacketView packet, Ipv4Endpoint source) {
  ClientRecord record = packet.record();
  record.set_ip(source.address);
  record.set_port(source.port);
  record.set_last_seen(clock_.Now());
  packet.set_record(record);
  bool added = false;
  {
    MutexLock lock(clientTableLock_);
    const bool known = table_.Find(record.name()).has_value();
    // A name not yet stored counts against its address's names.
    if (!known && defences_ &&
        !defences_->AdmitName(source.address, table_.CountAtAddress(source.address)))
      return;  // refused outright: no "g", no list
    if (!known) added = table_.Add(record);
  }
  if (added) {
    counters_.logins.Add();
    packet.set_letter(kLoginAccepted);
    counters_.Reply(socket_.SendTo(packet.recordForm(), source), kRecordFormSize);
    FlushReplies();  // "g" leaves before the window is waited for
    notices_.SendClientLogin(record);
  }
  SendClientList();
}

void RelayDispatcher::SendClientList() {
  FlushReplies();  // what was answered before leaves before the list
  if (defences_) {
    defences_->lists().Request();
  } else {
    BroadcastClientList(table_, socket_, counters_);
  }
}

// A name's stored record changes only through datagrams from the address it
// logged in from: nothing proves who sent a datagram, and anyone could
// otherwise move, rewrite or remove any client.

void RelayDispatcher::Logout(RelayPacketView packet, Ipv4Endpoint source) {
  const ClientRecord record = packet.record();
  bool removed = false;
  bool wrongSource = false;
  {
    MutexLock lock(clientTableLock_);
    const std::optional<ClientRecord> stored = table_.Find(record.name());
    wrongSource = stored && stored->ip() != source.address;
    if (stored && !wrongSource) removed = table_.Remove(record.name());
  }
  if (!removed) {
    counters_.Drop(wrongSource ? RelayDrop::kWrongSource : RelayDrop::kUnknownName);
    return;
  }
  counters_.logouts.Add();
  SendClientList();
  notices_.SendClientLogout(record);
}

void RelayDispatcher::Info(RelayPacketView packet, Ipv4Endpoint source) {
  const ClientRecord report = packet.record();
  std::optional<ClientRecord> updated;
  bool wrongSource = false;
  {
    MutexLock lock(clientTableLock_);
    table_.Update(report.name(), [&](ClientRecord& stored) {
      if (stored.ip() != source.address) {
        wrongSource = true;
        return;
      }
      stored.set_p2p_ip(report.p2p_ip());
      stored.set_p2p_port(report.p2p_port());
      updated = stored;
    });
  }
  if (!updated) {
    counters_.Drop(wrongSource ? RelayDrop::kWrongSource : RelayDrop::kUnknownName);
    return;
  }
  BroadcastClientInfo(table_, socket_, *updated, counters_);
  FlushReplies();
  notices_.SendClientInfo(*updated);
}

void RelayDispatcher::KeepAlive(RelayPacketView packet, Ipv4Endpoint source) {
  const ClientRecord report = packet.record();
  MutexLock lock(clientTableLock_);
  bool p2pChanged = false;
  bool wrongSource = false;
  ClientRecord stored;
  const bool found = table_.Update(report.name(), [&](ClientRecord& record) {
    if (record.ip() != source.address) {
      wrongSource = true;
      return;
    }
    record.set_last_seen(clock_.Now());
    if (record.port() != source.port) record.set_port(source.port);  // a new NAT port
    if (record.p2p_port() != report.p2p_port()) {
      record.set_p2p_ip(report.p2p_ip());
      record.set_p2p_port(report.p2p_port());
      p2pChanged = true;
      stored = record;
    }
  });
  if (!found) counters_.Drop(RelayDrop::kUnknownName);
  if (wrongSource) counters_.Drop(RelayDrop::kWrongSource);
  // Told while the lock is still held, as the keep-alive is one step for the sweeper.
  if (found && p2pChanged) {
    FlushReplies();
    notices_.SendClientInfo(stored);
  }
}

void RelayDispatcher::Connect(RelayPacketView packet) {
  // The target's name must end inside the datagram; a name cut off by the end
  // of the datagram names no client.
  const std::optional<std::string_view> name = packet.targetName();
  if (!name) {
    counters_.Drop(RelayDrop::kUnknownName);
    return;
  }
  std::optional<ClientRecord> destination;
  {
    MutexLock lock(clientTableLock_);
    destination = table_.Find(*name);
  }
  if (!destination) {
    counters_.Drop(RelayDrop::kUnknownName);
    return;
  }
  counters_.Reply(socket_.SendTo(packet.recordForm(), {destination->ip(), destination->port()}),
                  kRecordFormSize);
  notices_.PostForwardConnect();
}

void RelayDispatcher::RouteCommand(std::span<uint8_t> packet, Ipv4Endpoint source, bool request) {
  if (!routes_) return;
  if (defences_ && defences_->limits().routesFromClientsOnly &&
      !defences_->AdmitRouteCommand(source.address, table_.CountAtAddress(source.address) > 0))
    return;
  if (request) {
    routes_->HandleRouteRequest(packet, source, socket_);
  } else {
    routes_->HandleRouteRelease(packet, source, socket_);
  }
}

}  // namespace halvyn
