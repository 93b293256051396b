#include "platform/ipv4.h"

#include <charconv>
#include <cstring>

#include "platform/byte_order.h"

namespace halvyn {

uint32_t NetworkAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t octets[4] = {a, b, c, d};
  return LoadNetworkAddress(octets);
}

uint32_t NetworkToHostOrder(uint32_t networkOrder) {
  uint8_t octets[4];
  StoreNetworkAddress(octets, networkOrder);
  return LoadBe32(octets);
}

uint32_t HostToNetworkOrder(uint32_t hostOrder) {
  uint8_t octets[4];
  StoreBe32(octets, hostOrder);
  return LoadNetworkAddress(octets);
}

std::string DottedText(uint32_t networkOrder) {
  uint8_t o[4];
  StoreNetworkAddress(o, networkOrder);
  return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." +
         std::to_string(o[3]);
}

std::optional<uint32_t> ParseDotted(std::string_view text) {
  uint8_t octets[4];
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (p == end || *p != '.') return std::nullopt;
      ++p;
    }
    if (p == end || *p < '0' || *p > '9') return std::nullopt;
    unsigned value = 0;
    auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || value > 255 || next - p > 3) return std::nullopt;
    octets[i] = uint8_t(value);
    p = next;
  }
  if (p != end) return std::nullopt;
  return LoadNetworkAddress(octets);
}

std::optional<HostAndPort> SplitHostPort(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view portText = text.substr(colon + 1);
  uint16_t port = 0;
  const char* end = portText.data() + portText.size();
  const auto [stop, failure] = std::from_chars(portText.data(), end, port);
  if (portText.empty() || failure != std::errc() || stop != end) return std::nullopt;
  return HostAndPort{text.substr(0, colon), port};
}

std::optional<Ipv4Endpoint> ParseEndpoint(std::string_view text) {
  const auto split = SplitHostPort(text);
  if (!split) return std::nullopt;
  const auto address = ParseDotted(split->host);
  if (!address) return std::nullopt;
  return Ipv4Endpoint{*address, split->port};
}

}  // namespace halvyn
