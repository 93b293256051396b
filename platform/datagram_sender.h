// Anything that sends whole datagrams: the UDP socket, or a test's recorder.
#pragma once

#include <cstdint>
#include <span>

#include "platform/ipv4.h"

namespace halvyn {

class DatagramSender {
 public:
  virtual ~DatagramSender() = default;
  // Sends one whole datagram; false when it could not be sent.
  virtual bool SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const = 0;
};

}  // namespace halvyn
