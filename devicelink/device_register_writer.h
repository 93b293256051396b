// Writes a block into a LAN device's 16-bit registers (one datagram to its UDP
// port 4440). Route programming and device selection write through this, so
// tests can record the writes instead of sending them.
#pragma once

#include <cstdint>
#include <span>

namespace halvyn {

class DeviceRegisterWriter {
 public:
  virtual ~DeviceRegisterWriter() = default;
  // deviceAddress in network order; registerAddress counts 16-bit registers.
  // Fire and forget: nothing is reported. Any thread.
  virtual void WriteDeviceRegisters(uint32_t deviceAddress, uint16_t registerAddress,
                                    std::span<const uint8_t> data) = 0;
};

}  // namespace halvyn
