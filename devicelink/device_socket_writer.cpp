#include "devicelink/device_socket_writer.h"

#include "devicelink/device_link_constants.h"
#include "devicelink/device_write_packet.h"

namespace halvyn {

void DeviceSocketWriter::WriteDeviceRegisters(uint32_t deviceAddress, uint16_t registerAddress,
                                              std::span<const uint8_t> data) {
  // No device selected: a write to 0.0.0.0 reaches no device (Linux would
  // deliver it to this machine's own port 4440), so it is not sent.
  if (deviceAddress == 0) return;
  const std::optional<DeviceWritePacket> packet = DeviceWritePacket::Build(registerAddress, data);
  if (!packet) return;
  // Register writes are fire and forget: the device acknowledges nothing, so a
  // failed send is not reported either, only left out of the count.
  if (deviceSocket_.SendTo(packet->bytes(), {deviceAddress, kDeviceRegisterPort}))
    counters_.registerWrites.Add();
}

}  // namespace halvyn
