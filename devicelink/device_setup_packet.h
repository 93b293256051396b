// DeviceSetupPacket: the 70-byte datagram that tells a selected device the
// PC's MAC and IPv4 address.
//
//   offset  width  content
//   0       6      "veltrw"
//   6       64     eight entries of 8 bytes:
//                  register (2, high byte first), 0x80, 0x00, 0x00, 0x00,
//                  value (2, high byte first)
//
//   entry  register  value
//   1      0x0006    0x0020
//   2      0x0022    0xFFFF
//   3      0x0023    0xFFFF
//   4      0x001A    localMac bytes 0, 1
//   5      0x001B    localMac bytes 2, 3
//   6      0x001C    localMac bytes 4, 5
//   7      0x001D    first and second octet of the PC's address
//   8      0x001E    third and fourth octet of the PC's address
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/mac_address.h"

namespace halvyn {

namespace device_setup_packet {

inline constexpr size_t kSize = 70;
inline constexpr size_t kEntryCount = 8;
inline constexpr size_t kFirstEntryOffset = 6;
inline constexpr size_t kEntrySize = 8;
// Third byte of every set-up entry: a single-register write.
inline constexpr uint8_t kSingleWriteFlags = 0x80;
// Offsets inside one entry.
inline constexpr size_t kEntryRegisterOffset = 0;
inline constexpr size_t kEntryFlagsOffset = 2;
inline constexpr size_t kEntryValueOffset = 6;

}  // namespace device_setup_packet

using DeviceSetupPacket = std::array<uint8_t, device_setup_packet::kSize>;

// localAddress in host order (first octet in the most significant byte).
DeviceSetupPacket BuildDeviceSetupPacket(const MacAddress& localMac, uint32_t localAddress);

}  // namespace halvyn
