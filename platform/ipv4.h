// IPv4 addresses and endpoints as the rest of the system holds them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace halvyn {

// An address in network order (see byte_order.h) and a port in host order.
struct Ipv4Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
  bool operator==(const Ipv4Endpoint&) const = default;
};

// The network-order address of the octets a.b.c.d.
uint32_t NetworkAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d);

// Host order keeps the first octet in the most significant byte.
uint32_t NetworkToHostOrder(uint32_t networkOrder);
uint32_t HostToNetworkOrder(uint32_t hostOrder);

// Dotted-decimal text of a network-order address, as inet_ntoa gives it.
std::string DottedText(uint32_t networkOrder);

// Parses exactly four decimal octets separated by dots; nothing else is accepted.
std::optional<uint32_t> ParseDotted(std::string_view text);

// "HOST:PORT" split at its last colon, the port decimal from 0 to 65535;
// nothing when there is no colon or no such port. The host is not checked.
struct HostAndPort {
  std::string_view host;
  uint16_t port = 0;
};
std::optional<HostAndPort> SplitHostPort(std::string_view text);

// "A.B.C.D:PORT": a dotted address as ParseDotted takes it and a port as
// SplitHostPort takes it; the address in network order.
std::optional<Ipv4Endpoint> ParseEndpoint(std::string_view text);

}  // namespace halvyn
