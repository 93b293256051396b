#include "devicelink/device_write_packet.h"

#include <algorithm>

#include "platform/wire_writer.h"

namespace halvyn {

using namespace device_write_packet;

std::optional<DeviceWritePacket> DeviceWritePacket::Build(uint16_t registerAddress,
                                                          std::span<const uint8_t> data) {
  if (data.size() > kMaxDataSize) return std::nullopt;
  const size_t length = data.size() + (data.size() & 1);
  DeviceWritePacket packet;
  WireWriter(packet.buffer_)
      .Bytes(kMagicOffset, kPrefix)
      .Be16(kRegisterOffset, registerAddress)
      .Be16(kLengthOffset, uint16_t(kBlockWriteFlags << 8 | (length & 0x0FFF)))
      .Bytes(kDataOffset, data);  // the pad byte stays zero
  packet.size_ = kHeaderSize + length;
  return packet;
}

}  // namespace halvyn
