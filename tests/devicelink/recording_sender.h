// A DatagramSender that keeps every datagram instead of sending it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/datagram_sender.h"

namespace halvyn::testing {

struct SentDatagram {
  std::vector<uint8_t> bytes;
  Ipv4Endpoint destination;
};

class RecordingSender final : public DatagramSender {
 public:
  bool SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const override {
    sent.push_back({{datagram.begin(), datagram.end()}, destination});
    return true;
  }
  mutable std::vector<SentDatagram> sent;
};

}  // namespace halvyn::testing
