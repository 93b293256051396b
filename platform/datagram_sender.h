// Anything that sends whole datagrams: the UDP socket, or a test's recorder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ipv4.h"

namespace halvyn {

class DatagramSender {
 public:
  virtual ~DatagramSender() = default;
  // Sends one whole datagram; false when it could not be sent.
  virtual bool SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const = 0;
  // Sends the same datagram to each destination, in the given order, exactly
  // as SendTo would one after the other: a destination the kernel refuses is
  // skipped and the rest still go. Returns how many were sent. The socket does
  // this with few system calls; this default sends one at a time.
  virtual size_t SendToEach(std::span<const uint8_t> datagram,
                            std::span<const Ipv4Endpoint> destinations) const {
    size_t sent = 0;
    for (const Ipv4Endpoint& destination : destinations) sent += SendTo(datagram, destination);
    return sent;
  }
};

}  // namespace halvyn
