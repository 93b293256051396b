// The relay port's defences against hostile input, as the operator sets them.
// Every limit is per remote IPv4 address; 0 turns a limit off. None applies to
// loopback (127.0.0.0/8): local tools and tests, and the kernel never accepts
// such a source from outside.
#pragma once

#include <cstdint>

#include "platform/ipv4.h"

namespace halvyn {

struct RelayLimits {
  // Datagrams per second one address may send to the relay port (a token
  // bucket holding two seconds' worth). A device sends a keep-alive every few
  // seconds; a NAT with dozens of devices stays far below this.
  uint32_t datagramsPerIp = 200;
  // Names one address may have logged in at once. A NAT with a few dozen
  // devices still fits; one address can no longer fill the list.
  uint32_t namesPerIp = 64;
  // Bytes per second the relay port sends to one address (a bucket holding four
  // seconds' worth), so it cannot be turned on a victim. The bucket always
  // holds at least one whole list datagram.
  uint32_t bytesPerIp = 100000;
  // Bytes per second of "h" lists for all clients together: faster changes are
  // merged into one later list. A list to 545 clients is 35.6 MB.
  uint64_t listBytesPerSecond = 10000000;
  // Route requests and releases only from an address with a client logged in.
  bool routesFromClientsOnly = false;
};

// True for 127.0.0.0/8 (network order).
inline bool IsLoopbackAddress(uint32_t networkOrder) {
  return NetworkToHostOrder(networkOrder) >> 24 == 127u;
}

}  // namespace halvyn
