// DeviceAnnouncement: the 88-byte datagram a LAN device multicasts to
// 224.0.0.222:9887 to make itself known.
//
//   offset  width  content
//   0       4      0xAB 0x10 0xF0 0x01
//   4       2      0x00 0x52 (82, the bytes that follow)
//   6       6      the device's MAC, wire order
//   12      4      not read
//   16      1      FPGA version digits 1 (high nibble) and 2 (low nibble)
//   17      1      FPGA version digits 3 and 4
//   18      1      announceByte18
//   19      1      announceByte19
//   20      1      length of the device ID text
//   21      18     device ID text
//   39      1      length of the device name text
//   40      48     device name text
//
// The device's IPv4 address is the datagram's source address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "devicelink/local_device.h"
#include "platform/mac_address.h"
#include "platform/wire_reader.h"

namespace halvyn {

namespace device_announcement {

inline constexpr size_t kSize = 88;
inline constexpr uint8_t kMagic[4] = {0xAB, 0x10, 0xF0, 0x01};
inline constexpr size_t kMagicOffset = 0;
inline constexpr uint8_t kFollowingLength[2] = {0x00, 0x52};
inline constexpr size_t kFollowingLengthOffset = 4;
inline constexpr size_t kMacOffset = 6;
inline constexpr size_t kVersionOffset = 16;  // two bytes
inline constexpr size_t kByte18Offset = 18;
inline constexpr size_t kByte19Offset = 19;
inline constexpr size_t kIdLengthOffset = 20;
inline constexpr size_t kIdOffset = 21;
inline constexpr size_t kIdFieldSize = 18;
inline constexpr size_t kNameLengthOffset = 39;
inline constexpr size_t kNameOffset = 40;
inline constexpr size_t kNameFieldSize = 48;
// A text holds at most this many characters (it is kept in a 64-byte zero-filled buffer).
inline constexpr size_t kMaxTextLength = 63;

}  // namespace device_announcement

// An accepted announcement: only Of() makes one, so the fixed fields are all
// there. A view: the datagram must outlive it.
class DeviceAnnouncementView {
 public:
  // Exactly 88 bytes with the magic and 0x00 0x52; nullopt otherwise.
  static std::optional<DeviceAnnouncementView> Of(std::span<const uint8_t> datagram);

  MacAddress mac() const;
  // The four FPGA version digits, "0".."?" (a nibble each, most significant first).
  std::string fpgaVersion() const;
  uint8_t byte18() const { return reader_.bytes()[device_announcement::kByte18Offset]; }
  uint8_t byte19() const { return reader_.bytes()[device_announcement::kByte19Offset]; }
  // A text takes min(length byte, 63) bytes but never reads past the
  // datagram's end, and a zero byte inside it ends it early.
  std::string deviceId() const;
  std::string deviceName() const;

 private:
  explicit DeviceAnnouncementView(std::span<const uint8_t> datagram) : reader_(datagram) {}

  WireReader reader_;
};

// Accepts exactly 88 bytes with the magic and 0x00 0x52; nullopt otherwise.
// sourceAddress (network order) becomes ipAddress. A text takes min(length
// byte, 63) bytes but never reads past the datagram's end, and a zero byte
// inside it ends it early. A pure function of its input.
std::optional<CLocalDevice> ParseDeviceAnnouncement(std::span<const uint8_t> datagram,
                                                    uint32_t sourceAddress);
// The same for bytes that may be null (then nullopt).
std::optional<CLocalDevice> ParseDeviceAnnouncement(const uint8_t* bytes, size_t size,
                                                    uint32_t sourceAddress);

}  // namespace halvyn
