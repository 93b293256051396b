#include "routes/route_request_handler.h"

#include "routes/route_packets.h"

namespace halvyn {

namespace {

// A reply to 0.0.0.0 or to port 0 reaches no one (Linux would even deliver one
// to 0.0.0.0 locally): it is not sent. A free slot's zero record gives both.
void SendRouteReply(const DatagramSender& relaySocket, std::span<const uint8_t> reply,
                    Ipv4Endpoint destination, RelayCounters& relayCounters) {
  if (destination.address == 0 || destination.port == 0) {
    relayCounters.unaddressedReplies.Add();
    return;
  }
  relayCounters.Reply(relaySocket.SendTo(reply, destination), reply.size());
}

}  // namespace

RouteRequestHandler::RouteRequestHandler(RouteState& state, const RouteProgrammer& programmer,
                                         PortLearningStarter& listeners, ClientLookup clients,
                                         PostRouteReleased postRouteReleased,
                                         RouteCounters& counters, RelayCounters& relayCounters)
    : state_(state),
      programmer_(programmer),
      listeners_(listeners),
      clients_(std::move(clients)),
      postRouteReleased_(std::move(postRouteReleased)),
      counters_(counters),
      relayCounters_(relayCounters) {}

void RouteRequestHandler::HandleRouteRequest(std::span<const uint8_t> packet,
                                             Ipv4Endpoint /*source*/,
                                             const DatagramSender& relaySocket) {
  if (packet.size() < route_packet::kSize) return;
  const auto request = packet.first<route_packet::kSize>();
  const CRouteInfo body = RouteRequestBody(request);

  const std::optional<RouteGrant> grant = state_.AllocateRoute(body);
  uint16_t slotPort = 0;
  (grant ? counters_.granted : counters_.refused).Add();
  if (grant) {
    slotPort = grant->slotPort;
    programmer_.ProgramRouteReceive(grant->deviceAddress, grant->slot, grant->channelCount,
                                    grant->channels, body.tx_ip(), body.tx_param());
    listeners_.StartPortLearning(slotPort);
  }

  // The protocol has no retries: a reply that cannot be sent is lost.
  const RouteReplies replies = BuildRouteReplies(request, slotPort);
  SendRouteReply(relaySocket, replies.u, body.tx_endpoint(), relayCounters_);
  SendRouteReply(relaySocket, replies.v, body.rx_endpoint(), relayCounters_);
}

void RouteRequestHandler::HandleRouteRelease(std::span<const uint8_t> packet,
                                             Ipv4Endpoint /*source*/,
                                             const DatagramSender& relaySocket) {
  const std::optional<uint16_t> slotPort = ReleaseSlotPort(packet);
  if (!slotPort) {
    relayCounters_.Drop(RelayDrop::kShortRouteRequest);
    return;
  }
  const std::optional<RouteSlot> slot = SlotOfPort(*slotPort);
  if (!slot) {
    relayCounters_.Drop(RelayDrop::kBadSlotPort);
    return;
  }

  // The window may zero the record as soon as the release is posted; the
  // notices are built from this copy. While the slot's release waits for the
  // window, another "x" for it changes nothing and sends nothing.
  const std::optional<CRouteInfo> record = state_.BeginRelease(*slot);
  if (!record) {
    relayCounters_.Drop(RelayDrop::kReleasePending);
    return;
  }
  postRouteReleased_(*slot);

  RoutePacket notice = BuildReleaseNotice(*record, route_packet::kTxRelease);
  // The protocol has no retries: a notice that cannot be sent is lost.
  SendRouteReply(relaySocket, notice, record->tx_endpoint(), relayCounters_);

  notice[relay_packet::kCommandOffset] = route_packet::kRxRelease;
  Ipv4Endpoint rx = record->rx_endpoint();
  if (const std::optional<Ipv4Endpoint> client = clients_(record->rx_name()))
    rx.port = client->port;
  SendRouteReply(relaySocket, notice, rx, relayCounters_);
}

}  // namespace halvyn
