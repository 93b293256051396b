#include "tools/client/client_packets.h"

#include <algorithm>

#include "platform/byte_order.h"
#include "relay/relay_packet.h"
#include "routes/route_packets.h"

namespace halvyn {

namespace {

// The body of "p" is at least a whole name field, so a short name still
// travels with zero padding after its terminator.
constexpr size_t kConnectTargetField = ClientRecord::kNameCapacity;

}  // namespace

Datagram BuildRecordPacket(uint8_t letter, const ClientRecord& self) {
  Datagram packet(relay_packet::kRecordFormSize, 0);
  relay_packet::WriteHeader(packet.data(), letter, 0);
  std::copy(self.bytes.begin(), self.bytes.end(), packet.begin() + relay_packet::kRecordOffset);
  return packet;
}

Datagram BuildConnectRequest(const ClientRecord& self, std::string_view target) {
  Datagram packet = BuildRecordPacket(relay_packet::kConnect, self);
  packet.resize(relay_packet::kTargetNameOffset + std::max(kConnectTargetField, target.size() + 1),
                0);
  std::copy(target.begin(), target.end(), packet.begin() + relay_packet::kTargetNameOffset);
  return packet;
}

Datagram BuildRouteRequest(const ClientRecord& self, const CRouteInfo& route) {
  Datagram packet = BuildRecordPacket(kRouteRequestLetter, self);
  packet.resize(kRoutePacketLength, 0);
  route.WriteTo(
      std::span<uint8_t, CRouteInfo::kSize>(packet.data() + kRouteBodyOffset, CRouteInfo::kSize));
  return packet;
}

Datagram BuildRouteRelease(const ClientRecord& self, uint16_t slotPort) {
  Datagram packet = BuildRecordPacket(kRouteReleaseLetter, self);
  packet.resize(kRoutePacketLength, 0);
  StoreLe16(packet.data() + kRouteBodyOffset, slotPort);
  return packet;
}

}  // namespace halvyn
