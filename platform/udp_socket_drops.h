// Datagrams the kernel dropped because a UDP socket's receive buffer was full,
// as /proc/net/udp counts them (the last column, "drops").
#pragma once

#include <cstdint>
#include <string_view>

namespace halvyn {

// The drops of every socket in the table bound to local `port`, added up.
uint64_t ParseUdpDrops(std::string_view procNetUdp, uint16_t port);

// The same for this process's network namespace now (0 when unreadable).
uint64_t UdpSocketDrops(uint16_t port);

}  // namespace halvyn
