#include "routes/route_packets.h"

#include <algorithm>

#include "platform/wire_reader.h"
#include "platform/wire_writer.h"

namespace halvyn {

namespace {

std::span<uint8_t, route_info::kSize> BodyOf(RoutePacket& packet) {
  return std::span<uint8_t, route_packet::kSize>(packet)
      .subspan<route_packet::kBodyOffset, route_info::kSize>();
}

}  // namespace

CRouteInfo RouteRequestBody(std::span<const uint8_t, route_packet::kSize> request) {
  return CRouteInfo(request.subspan<route_packet::kBodyOffset, route_info::kSize>());
}

RouteReplies BuildRouteReplies(std::span<const uint8_t, route_packet::kSize> request,
                               uint16_t slotPort) {
  const CRouteInfo received = RouteRequestBody(request);
  RouteReplies replies{};

  CRouteInfo txBody = received;
  txBody.set_rx_port(slotPort);
  CRouteInfo rxBody = received;
  rxBody.set_tx_port(slotPort);

  for (RoutePacket* reply : {&replies.u, &replies.v}) {
    std::copy_n(request.begin(), relay_packet::kRecordOffset, reply->begin());
  }
  replies.u[relay_packet::kCommandOffset] = route_packet::kTxReply;
  replies.v[relay_packet::kCommandOffset] = route_packet::kRxReply;
  txBody.WriteTo(BodyOf(replies.u));
  rxBody.WriteTo(BodyOf(replies.v));
  return replies;
}

RoutePacket BuildReleaseNotice(const CRouteInfo& record, uint8_t letter) {
  RoutePacket packet{};
  relay_packet::WriteHeader(std::span(packet).first<relay_packet::kHeaderSize>(), letter, 0);
  record.WriteTo(BodyOf(packet));
  return packet;
}

std::optional<uint16_t> ReleaseSlotPort(std::span<const uint8_t> release) {
  return WireReader(release).Le16(route_packet::kBodyOffset);
}

std::optional<CRouteInfo> RouteBodyOf(std::span<const uint8_t> datagram) {
  const auto body = WireReader(datagram).Fixed<route_info::kSize>(route_packet::kBodyOffset);
  if (!body) return std::nullopt;
  return CRouteInfo(*body);
}

bool IsPortProbe(std::span<const uint8_t> datagram) {
  return datagram.size() >= route_packet::kProbeMinSize &&
         datagram[relay_packet::kCommandOffset] == route_packet::kProbe;
}

Datagram BuildRouteRequest(const ClientRecord& self, const CRouteInfo& route) {
  Datagram packet = BuildRecordPacket(route_packet::kRequest, self);
  packet.resize(route_packet::kSize, 0);
  route.WriteTo(std::span(packet).subspan<route_packet::kBodyOffset, route_info::kSize>());
  return packet;
}

Datagram BuildRouteRelease(const ClientRecord& self, uint16_t slotPort) {
  Datagram packet = BuildRecordPacket(route_packet::kRelease, self);
  packet.resize(route_packet::kSize, 0);
  WireWriter(packet).Le16(route_packet::kBodyOffset, slotPort);
  return packet;
}

}  // namespace halvyn
