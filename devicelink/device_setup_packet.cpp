#include "devicelink/device_setup_packet.h"

#include <algorithm>

#include "devicelink/device_write_packet.h"
#include "platform/byte_order.h"

namespace halvyn {

DeviceSetupPacket BuildDeviceSetupPacket(const MacAddress& localMac, uint32_t localAddress) {
  struct Entry {
    uint16_t registerAddress;
    uint16_t value;
  };
  const Entry entries[kDeviceSetupEntryCount] = {
      {0x0006, 0x0020},
      {0x0022, 0xFFFF},
      {0x0023, 0xFFFF},
      {0x001A, LoadBe16(&localMac[0])},
      {0x001B, LoadBe16(&localMac[2])},
      {0x001C, LoadBe16(&localMac[4])},
      {0x001D, uint16_t(localAddress >> 16)},
      {0x001E, uint16_t(localAddress)},
  };
  DeviceSetupPacket packet{};
  std::copy(std::begin(kDevicePacketPrefix), std::end(kDevicePacketPrefix), packet.begin());
  for (size_t i = 0; i < kDeviceSetupEntryCount; ++i) {
    uint8_t* entry = packet.data() + kDeviceSetupFirstEntryOffset + i * kDeviceSetupEntrySize;
    StoreBe16(entry + kSetupEntryRegisterOffset, entries[i].registerAddress);
    entry[kSetupEntryFlagsOffset] = kSingleWriteFlags;
    StoreBe16(entry + kSetupEntryValueOffset, entries[i].value);
  }
  return packet;
}

}  // namespace halvyn
