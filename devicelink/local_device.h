// CLocalDevice: one LAN audio device, learnt from its announcement.
#pragma once

#include <cstdint>
#include <string>

#include "platform/mac_address.h"

namespace halvyn {

class CLocalDevice {
 public:
  std::string deviceName;   // at most 63 characters
  std::string deviceId;     // at most 63 characters
  std::string fpgaVersion;  // four characters, one per nibble plus '0'
  uint32_t ipAddress = 0;   // network order: the announcement's source address
  MacAddress macAddress{};  // wire order
  uint8_t announceByte18 = 0;
  uint8_t announceByte19 = 0;

  bool operator==(const CLocalDevice&) const = default;
};

}  // namespace halvyn
