// Writes device registers by sending DeviceWritePackets to the device's
// register port from the device socket.
#pragma once

#include "devicelink/device_register_writer.h"
#include "devicelink/devicelink_counters.h"
#include "platform/datagram_sender.h"

namespace halvyn {

class DeviceSocketWriter final : public DeviceRegisterWriter {
 public:
  // Both must outlive the writer; the writes sent are counted in counters.
  DeviceSocketWriter(const DatagramSender& deviceSocket, DeviceLinkCounters& counters)
      : deviceSocket_(deviceSocket), counters_(counters) {}

  // Any thread: one whole datagram per call, no lock. More than 1088 bytes
  // of data is refused and nothing is sent.
  void WriteDeviceRegisters(uint32_t deviceAddress, uint16_t registerAddress,
                            std::span<const uint8_t> data) override;

 private:
  const DatagramSender& deviceSocket_;
  DeviceLinkCounters& counters_;
};

}  // namespace halvyn
