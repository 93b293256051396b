// Writes device registers by sending DeviceWritePackets to the device's
// register port from the device socket.
#pragma once

#include "devicelink/device_register_writer.h"
#include "platform/datagram_sender.h"

namespace halvyn {

class DeviceSocketWriter final : public DeviceRegisterWriter {
 public:
  // deviceSocket must outlive the writer.
  explicit DeviceSocketWriter(const DatagramSender& deviceSocket) : deviceSocket_(deviceSocket) {}

  // Any thread: one whole datagram per call, no lock. More than 1088 bytes
  // of data is refused and nothing is sent.
  void WriteDeviceRegisters(uint32_t deviceAddress, uint16_t registerAddress,
                            std::span<const uint8_t> data) override;

 private:
  const DatagramSender& deviceSocket_;
};

}  // namespace halvyn
