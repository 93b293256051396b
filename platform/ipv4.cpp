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

}  // namespace halvyn
