#include "devicelink/device_announcement.h"

#include <algorithm>
#include <cstring>

namespace halvyn {

namespace {

using Layout = DeviceAnnouncementLayout;

// The text of `length` bytes at `offset`, cut at the datagram's end, at 63
// characters and at its first zero byte.
std::string TextField(const uint8_t* bytes, size_t size, size_t offset, size_t length) {
  const size_t available = offset < size ? size - offset : 0;
  const size_t taken = std::min({length, Layout::kMaxTextLength, available});
  const uint8_t* begin = bytes + offset;
  const uint8_t* end = std::find(begin, begin + taken, uint8_t(0));
  return std::string(begin, end);
}

char VersionDigit(uint8_t nibble) {
  return char('0' + nibble);
}

}  // namespace

std::optional<CLocalDevice> ParseDeviceAnnouncement(const uint8_t* bytes, size_t size,
                                                    uint32_t sourceAddress) {
  if (bytes == nullptr || size != Layout::kSize) return std::nullopt;
  if (std::memcmp(bytes + Layout::kMagicOffset, Layout::kMagic, sizeof Layout::kMagic) != 0 ||
      std::memcmp(bytes + Layout::kFollowingLengthOffset, Layout::kFollowingLength,
                  sizeof Layout::kFollowingLength) != 0)
    return std::nullopt;

  CLocalDevice device;
  device.ipAddress = sourceAddress;
  device.announceByte18 = bytes[Layout::kByte18Offset];
  device.announceByte19 = bytes[Layout::kByte19Offset];
  device.deviceId = TextField(bytes, size, Layout::kIdOffset, bytes[Layout::kIdLengthOffset]);
  device.deviceName = TextField(bytes, size, Layout::kNameOffset, bytes[Layout::kNameLengthOffset]);
  std::copy_n(bytes + Layout::kMacOffset, device.macAddress.size(), device.macAddress.begin());
  const uint8_t high = bytes[Layout::kVersionOffset];
  const uint8_t low = bytes[Layout::kVersionOffset + 1];
  device.fpgaVersion = {VersionDigit(high >> 4), VersionDigit(high & 0x0F), VersionDigit(low >> 4),
                        VersionDigit(low & 0x0F)};
  return device;
}

}  // namespace halvyn
