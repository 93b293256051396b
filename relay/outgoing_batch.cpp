#include "relay/outgoing_batch.h"

#include "platform/udp_batch.h"

namespace halvyn {

bool OutgoingBatch::SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const {
  if (bytes_.size() + datagram.size() > kOutgoingBatchBytes) Flush();
  bytes_.insert(bytes_.end(), datagram.begin(), datagram.end());
  ends_.push_back(bytes_.size());
  destinations_.push_back(destination);
  return true;
}

size_t OutgoingBatch::SendToEach(std::span<const uint8_t> datagram,
                                 std::span<const Ipv4Endpoint> destinations) const {
  for (const Ipv4Endpoint& destination : destinations) SendTo(datagram, destination);
  return destinations.size();
}

size_t OutgoingBatch::Flush() const {
  if (destinations_.empty()) return 0;
  thread_local std::vector<OutgoingDatagram> datagrams;
  datagrams.clear();
  size_t begin = 0;
  for (size_t i = 0; i < destinations_.size(); ++i) {
    datagrams.push_back({std::span(bytes_).subspan(begin, ends_[i] - begin), destinations_[i]});
    begin = ends_[i];
  }
  const size_t sent = SendEach(socket_, datagrams);
  bytes_.clear();
  ends_.clear();
  destinations_.clear();
  return datagrams.size() - sent;
}

}  // namespace halvyn
