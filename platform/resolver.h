// Host-name resolution for IPv4.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace halvyn {

// Every IPv4 address of hostName (a name or dotted text), in the order the
// system resolver returns them, duplicates kept. The text is used exactly as
// given (no trimming). nullopt when it does not resolve to any IPv4 address,
// including text that holds a NUL byte, which no host name can contain.
// Addresses are in network order. Blocks while the resolver works (it may ask
// DNS); any thread.
std::optional<std::vector<uint32_t>> ResolveIpv4Addresses(std::string_view hostName);

}  // namespace halvyn
