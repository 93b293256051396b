// Ports, group and texts the device link and the LAN devices agree on.
#pragma once

#include <cstdint>

namespace halvyn {

// UDP port on which a LAN device accepts register writes and the set-up datagram.
inline constexpr uint16_t kDeviceRegisterPort = 4440;
// Local UDP port of the device socket: source of every device datagram, and the STUN socket.
inline constexpr uint16_t kDeviceSocketPort = 19002;

// Devices announce themselves to this group and port; octets of 224.0.0.222.
inline constexpr uint8_t kDiscoveryGroupOctets[4] = {224, 0, 0, 222};
inline constexpr uint16_t kDiscoveryPort = 9887;
// Multicast TTL set on the listener's socket.
inline constexpr int kDiscoveryTtl = 8;

// Shown when the device socket cannot be bound to kDeviceSocketPort.
inline constexpr const char kBindingIpFailureText[] = "binding ip failure.";

}  // namespace halvyn
