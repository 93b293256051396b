// DeviceWritePacket: the datagram that writes a block into a LAN device's
// 16-bit registers.
//
//   offset  width   content
//   0       4       "velt"
//   4       2       "rw"
//   6       2       register address, high byte first
//   8       1       0xC0 | bits 11..8 of the length
//   9       1       bits 7..0 of the length
//   10      2       0x00 0x00
//   12      length  the data, then one zero pad byte when the count was odd
//
// The length is the byte count rounded up to even; a block of n bytes fills
// n/2 consecutive registers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace halvyn {

namespace device_write_packet {

// "veltrw": the first six bytes of every datagram to a device's register port.
inline constexpr uint8_t kPrefix[6] = {'v', 'e', 'l', 't', 'r', 'w'};

inline constexpr size_t kHeaderSize = 12;
inline constexpr size_t kMaxDataSize = 1088;  // the datagram fits a 1100-byte buffer
inline constexpr size_t kMaxSize = kHeaderSize + kMaxDataSize;

inline constexpr size_t kMagicOffset = 0;          // "velt"
inline constexpr size_t kCommandOffset = 4;        // "rw"
inline constexpr size_t kRegisterOffset = 6;       // big-endian 16 bits
inline constexpr size_t kLengthOffset = 8;         // flags and 12-bit length, big-endian
inline constexpr uint8_t kBlockWriteFlags = 0xC0;  // carried by every block write
inline constexpr size_t kDataOffset = 12;

}  // namespace device_write_packet

class DeviceWritePacket {
 public:
  // nullopt when data holds more than device_write_packet::kMaxDataSize bytes.
  static std::optional<DeviceWritePacket> Build(uint16_t registerAddress,
                                                std::span<const uint8_t> data);

  // The whole datagram: 12 + length bytes.
  std::span<const uint8_t> bytes() const { return {buffer_.data(), size_}; }

 private:
  DeviceWritePacket() = default;

  std::array<uint8_t, device_write_packet::kMaxSize> buffer_{};
  size_t size_ = 0;
};

}  // namespace halvyn
