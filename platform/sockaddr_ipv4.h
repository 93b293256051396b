// Conversions between Ipv4Endpoint and the kernel's sockaddr_in, for the
// socket files of platform/ only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include "platform/ipv4.h"

namespace halvyn {

inline sockaddr_in ToSockaddr(Ipv4Endpoint endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = endpoint.address;
  address.sin_port = htons(endpoint.port);
  return address;
}

inline Ipv4Endpoint FromSockaddr(const sockaddr_in& address) {
  return {address.sin_addr.s_addr, ntohs(address.sin_port)};
}

}  // namespace halvyn
