#include "devicelink/device_setup_packet.h"

#include <algorithm>

#include "devicelink/device_write_packet.h"
#include "platform/byte_order.h"
#include "platform/wire_writer.h"

namespace halvyn {

using namespace device_setup_packet;

DeviceSetupPacket BuildDeviceSetupPacket(const MacAddress& localMac, uint32_t localAddress) {
  struct Entry {
    uint16_t registerAddress;
    uint16_t value;
  };
  const Entry entries[kEntryCount] = {
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
  WireWriter out(packet);
  out.Bytes(0, device_write_packet::kPrefix);
  for (size_t i = 0; i < kEntryCount; ++i) {
    const size_t entry = kFirstEntryOffset + i * kEntrySize;
    out.Be16(entry + kEntryRegisterOffset, entries[i].registerAddress)
        .U8(entry + kEntryFlagsOffset, kSingleWriteFlags)
        .Be16(entry + kEntryValueOffset, entries[i].value);
  }
  return packet;
}

}  // namespace halvyn
