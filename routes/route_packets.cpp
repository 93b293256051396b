#include "routes/route_packets.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace halvyn {

namespace {

std::span<uint8_t, CRouteInfo::kSize> BodyOf(RoutePacket& packet) {
  return std::span<uint8_t, kRoutePacketLength>(packet)
      .subspan<kRouteBodyOffset, CRouteInfo::kSize>();
}

}  // namespace

CRouteInfo RouteRequestBody(std::span<const uint8_t, kRoutePacketLength> request) {
  return CRouteInfo(request.subspan<kRouteBodyOffset, CRouteInfo::kSize>());
}

RouteReplies BuildRouteReplies(std::span<const uint8_t, kRoutePacketLength> request,
                               uint16_t slotPort) {
  const CRouteInfo received = RouteRequestBody(request);
  RouteReplies replies{};

  CRouteInfo txBody = received;
  txBody.set_rx_port(slotPort);
  CRouteInfo rxBody = received;
  rxBody.set_tx_port(slotPort);

  for (RoutePacket* reply : {&replies.u, &replies.v}) {
    std::copy_n(request.begin(), kRouteRecordAreaOffset, reply->begin());
  }
  replies.u[kRouteCommandOffset] = kRouteTxReplyLetter;
  replies.v[kRouteCommandOffset] = kRouteRxReplyLetter;
  txBody.WriteTo(BodyOf(replies.u));
  rxBody.WriteTo(BodyOf(replies.v));
  return replies;
}

RoutePacket BuildReleaseNotice(const CRouteInfo& record, uint8_t letter) {
  RoutePacket packet{};
  packet[0] = relay_packet::kMagic0;
  packet[1] = relay_packet::kMagic1;
  packet[kRouteCommandOffset] = letter;
  record.WriteTo(BodyOf(packet));
  return packet;
}

std::optional<uint16_t> ReleaseSlotPort(std::span<const uint8_t> release) {
  if (release.size() < kRouteReleaseMinLength) return std::nullopt;
  return LoadLe16(&release[kRouteBodyOffset]);
}

bool IsPortProbe(std::span<const uint8_t> datagram) {
  return datagram.size() >= kPortProbeMinLength &&
         datagram[kRouteCommandOffset] == kPortProbeLetter;
}

}  // namespace halvyn
