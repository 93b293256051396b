// An Ethernet MAC address: six bytes in wire order.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace halvyn {

using MacAddress = std::array<uint8_t, 6>;

// "00-11-22-33-44-55" style text with the given separator, upper-case hex.
std::string MacText(const MacAddress& mac, char separator = '-');

// Parses six two-digit hex groups separated by ':' or '-' (one kind throughout).
std::optional<MacAddress> ParseMac(std::string_view text);

}  // namespace halvyn
