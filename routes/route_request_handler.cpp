#include "routes/route_request_handler.h"

#include "relay/relay_counters.h"
#include "routes/route_counters.h"
#include "routes/route_packets.h"

namespace halvyn {

RouteRequestHandler::RouteRequestHandler(RouteState& state, const RouteProgrammer& programmer,
                                         PortLearningStarter& listeners, ClientLookup clients,
                                         PostRouteReleased postRouteReleased)
    : state_(state),
      programmer_(programmer),
      listeners_(listeners),
      clients_(std::move(clients)),
      postRouteReleased_(std::move(postRouteReleased)) {}

void RouteRequestHandler::HandleRouteRequest(std::span<const uint8_t> packet,
                                             Ipv4Endpoint /*source*/,
                                             const DatagramSender& relaySocket) {
  if (packet.size() < kRoutePacketLength) return;
  const auto request = packet.first<kRoutePacketLength>();
  const CRouteInfo body = RouteRequestBody(request);

  const std::optional<RouteGrant> grant = state_.AllocateRoute(body);
  uint16_t slotPort = 0;
  (grant ? routeCounters.granted : routeCounters.refused).Add();
  if (grant) {
    slotPort = grant->slotPort;
    programmer_.ProgramRouteReceive(grant->deviceAddress, grant->slot, grant->channelCount,
                                    grant->channels, body.tx_ip(), body.tx_param());
    listeners_.StartPortLearning(slotPort);
  }

  // The protocol has no retries: a reply that cannot be sent is lost.
  const RouteReplies replies = BuildRouteReplies(request, slotPort);
  relayCounters.Reply(relaySocket.SendTo(replies.u, body.tx_endpoint()), replies.u.size());
  relayCounters.Reply(relaySocket.SendTo(replies.v, body.rx_endpoint()), replies.v.size());
}

void RouteRequestHandler::HandleRouteRelease(std::span<const uint8_t> packet,
                                             Ipv4Endpoint /*source*/,
                                             const DatagramSender& relaySocket) {
  const std::optional<uint16_t> slotPort = ReleaseSlotPort(packet);
  if (!slotPort) {
    relayCounters.Drop(RelayDrop::kShortRouteRequest);
    return;
  }
  const std::optional<RouteSlot> slot = SlotOfPort(*slotPort);
  if (!slot) {
    relayCounters.Drop(RelayDrop::kBadSlotPort);
    return;
  }

  // The window may zero the record as soon as the release is posted; the
  // notices are built from this copy.
  const CRouteInfo record = state_.Record(*slot);
  postRouteReleased_(*slot);

  RoutePacket notice = BuildReleaseNotice(record, kRouteTxReleaseLetter);
  // The protocol has no retries: a notice that cannot be sent is lost.
  relayCounters.Reply(relaySocket.SendTo(notice, record.tx_endpoint()), notice.size());

  notice[kRouteCommandOffset] = kRouteRxReleaseLetter;
  Ipv4Endpoint rx = record.rx_endpoint();
  if (const std::optional<Ipv4Endpoint> client = clients_(record.rx_name())) rx.port = client->port;
  relayCounters.Reply(relaySocket.SendTo(notice, rx), notice.size());
}

}  // namespace halvyn
