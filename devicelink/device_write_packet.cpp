#include "devicelink/device_write_packet.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace halvyn {

std::optional<DeviceWritePacket> DeviceWritePacket::Build(uint16_t registerAddress,
                                                          std::span<const uint8_t> data) {
  if (data.size() > kMaxDataSize) return std::nullopt;
  const size_t length = data.size() + (data.size() & 1);
  DeviceWritePacket packet;
  uint8_t* out = packet.buffer_.data();
  std::copy(std::begin(kDevicePacketPrefix), std::end(kDevicePacketPrefix), out + kMagicOffset);
  StoreBe16(out + kRegisterOffset, registerAddress);
  StoreBe16(out + kLengthOffset, uint16_t(kBlockWriteFlags << 8 | (length & 0x0FFF)));
  std::copy(data.begin(), data.end(), out + kDataOffset);  // the pad byte stays zero
  packet.size_ = kHeaderSize + length;
  return packet;
}

}  // namespace halvyn
