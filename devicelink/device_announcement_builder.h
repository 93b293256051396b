// Builds a DeviceAnnouncement (layout in device_announcement.h), as a LAN
// device sends it. Used by the device simulator and by tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "devicelink/device_announcement.h"
#include "platform/mac_address.h"

namespace halvyn {

struct DeviceAnnouncementFields {
  std::string deviceId;    // cut to 18 bytes
  std::string deviceName;  // cut to 48 bytes
  MacAddress mac{};
  uint16_t fpgaVersion = 0;  // four nibbles, most significant first: 0x0123 reads "0123"
  uint8_t byte18 = 0;
  uint8_t byte19 = 0;
};

using DeviceAnnouncement = std::array<uint8_t, device_announcement::kSize>;

DeviceAnnouncement BuildDeviceAnnouncement(const DeviceAnnouncementFields& fields);

}  // namespace halvyn
