#include "relay/broadcasts.h"

#include <algorithm>
#include <array>
#include <vector>

#include "relay/relay_packet.h"

namespace halvyn {

void BroadcastClientList(const ClientTable& table, const DatagramSender& socket,
                         RelayCounters& counters) {
  // Per thread, so the receive thread and the window thread never share them
  // and a busy server does not allocate for every list.
  thread_local std::vector<uint8_t> datagram;
  thread_local std::vector<Ipv4Endpoint> destinations;
  table.BuildClientList(datagram, destinations);
  // In table order, many per system call; no retries in this protocol: a
  // failed send is only counted.
  counters.Broadcast(socket.SendToEach(datagram, destinations), destinations.size(),
                     datagram.size());
}

void BroadcastClientInfo(const ClientTable& table, const DatagramSender& socket,
                         const ClientRecord& record, RelayCounters& counters) {
  using namespace relay_packet;
  std::array<uint8_t, kRecordFormSize> packet{};
  WriteRecordForm(packet, kInfo, 0, record);
  thread_local std::vector<Ipv4Endpoint> destinations;
  table.Destinations(destinations);
  // Not retried, as no send to a client is: a failed send is only counted.
  counters.Broadcast(socket.SendToEach(packet, destinations), destinations.size(), packet.size());
}

}  // namespace halvyn
