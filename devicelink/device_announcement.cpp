#include "devicelink/device_announcement.h"

#include <algorithm>

namespace halvyn {

using namespace device_announcement;

namespace {

char VersionDigit(uint8_t nibble) {
  return char('0' + nibble);
}

}  // namespace

std::optional<DeviceAnnouncementView> DeviceAnnouncementView::Of(
    std::span<const uint8_t> datagram) {
  if (datagram.size() != kSize) return std::nullopt;
  if (!std::ranges::equal(datagram.subspan(kMagicOffset, sizeof kMagic), kMagic) ||
      !std::ranges::equal(datagram.subspan(kFollowingLengthOffset, sizeof kFollowingLength),
                          kFollowingLength))
    return std::nullopt;
  return DeviceAnnouncementView(datagram);
}

MacAddress DeviceAnnouncementView::mac() const {
  MacAddress mac;
  const auto wire = *reader_.Fixed<mac.size()>(kMacOffset);
  std::copy(wire.begin(), wire.end(), mac.begin());
  return mac;
}

std::string DeviceAnnouncementView::fpgaVersion() const {
  const uint8_t high = *reader_.U8(kVersionOffset);
  const uint8_t low = *reader_.U8(kVersionOffset + 1);
  return {VersionDigit(high >> 4), VersionDigit(high & 0x0F), VersionDigit(low >> 4),
          VersionDigit(low & 0x0F)};
}

std::string DeviceAnnouncementView::deviceId() const {
  return std::string(
      reader_.TextAt(kIdOffset, std::min<size_t>(*reader_.U8(kIdLengthOffset), kMaxTextLength)));
}

std::string DeviceAnnouncementView::deviceName() const {
  return std::string(reader_.TextAt(
      kNameOffset, std::min<size_t>(*reader_.U8(kNameLengthOffset), kMaxTextLength)));
}

std::optional<CLocalDevice> ParseDeviceAnnouncement(std::span<const uint8_t> datagram,
                                                    uint32_t sourceAddress) {
  const std::optional<DeviceAnnouncementView> announcement = DeviceAnnouncementView::Of(datagram);
  if (!announcement) return std::nullopt;
  CLocalDevice device;
  device.ipAddress = sourceAddress;
  device.announceByte18 = announcement->byte18();
  device.announceByte19 = announcement->byte19();
  device.deviceId = announcement->deviceId();
  device.deviceName = announcement->deviceName();
  device.macAddress = announcement->mac();
  device.fpgaVersion = announcement->fpgaVersion();
  return device;
}

std::optional<CLocalDevice> ParseDeviceAnnouncement(const uint8_t* bytes, size_t size,
                                                    uint32_t sourceAddress) {
  if (bytes == nullptr) return std::nullopt;
  return ParseDeviceAnnouncement(std::span<const uint8_t>(bytes, size), sourceAddress);
}

}  // namespace halvyn
