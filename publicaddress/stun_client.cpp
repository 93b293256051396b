#include "publicaddress/stun_client.h"

#include <array>
#include <random>
#include <utility>

#include "platform/resolver.h"

namespace halvyn {

std::string InvalidUrlMessage(std::string_view serverText) {
  return "Invalid URL:" + std::string(serverText);
}

StunClient::StunClient(StunCounters& counters)
    : StunClient(counters, ResolveIpv4Addresses,
                 // The transaction ID is never matched against answers; any
                 // generator will do, seeded once so that presses differ.
                 [engine = std::mt19937(std::random_device{}())]() mutable {
                   return uint32_t(engine());
                 }) {}

StunClient::StunClient(StunCounters& counters, HostResolver resolver, RandomDraw draw)
    : counters_(counters), resolver_(std::move(resolver)), draw_(std::move(draw)) {}

StunSendOutcome StunClient::SendBindingRequests(const DatagramSender& sender,
                                                std::string_view serverText) {
  const StunBindingRequestBytes request = BuildStunBindingRequest(draw_);
  const std::optional<std::vector<uint32_t>> addresses = resolver_(serverText);
  if (!addresses) return StunSendOutcome::kUnresolved;
  for (uint32_t address : *addresses) {
    // Send results are only counted: an unanswered request is simply forgotten.
    if (sender.SendTo(request, Ipv4Endpoint{address, kStunServerPort}))
      counters_.requestsSent.Add();
  }
  return StunSendOutcome::kSent;
}

std::optional<Ipv4Endpoint> StunClient::ReadAnswer(const UdpSocket& socket) const {
  std::array<uint8_t, kStunReceiveBufferSize> buffer{};
  const ReceiveResult received = socket.ReceiveNow(buffer);
  if (received.status == ReceiveResult::Status::kOversized) counters_.oversized.Add();
  if (received.status != ReceiveResult::Status::kDatagram) return std::nullopt;
  const std::optional<Ipv4Endpoint> answer = ParseStunResponse(buffer.data(), received.size);
  (answer ? counters_.answersAccepted : counters_.answersRejected).Add();
  return answer;
}

}  // namespace halvyn
