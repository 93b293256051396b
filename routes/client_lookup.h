// How the route code asks the client table about a logged-in client.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "platform/ipv4.h"

namespace halvyn {

// The stored public endpoint (ip, port) of the logged-in client whose name
// equals `name` byte for byte, or none. On the relay receive thread the
// implementation takes the client-table lock; on the window thread it must
// never wait for that lock (look in a copy of the table instead).
using ClientLookup = std::function<std::optional<Ipv4Endpoint>(std::string_view name)>;

}  // namespace halvyn
