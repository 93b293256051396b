// The datagrams a device receives when the operator selects it: the set-up
// datagram, then sixteen writes that clear the transmit templates of all 32
// route slots (registers 0x0400 to 0x07FF), with the pauses the device needs
// between them.
#pragma once

#include <cstdint>
#include <functional>

#include "devicelink/device_register_writer.h"
#include "devicelink/devicelink_counters.h"
#include "platform/datagram_sender.h"
#include "platform/mac_address.h"

namespace halvyn {

// Pause after the set-up datagram, so the device has applied it before the clearing writes.
inline constexpr uint32_t kSetupPauseMs = 10;
// Pause after each clearing write, so consecutive blocks do not overrun the device.
inline constexpr uint32_t kClearingWritePauseMs = 5;
inline constexpr int kClearingWriteCount = 16;
inline constexpr uint16_t kFirstTransmitTemplateRegister = 0x0400;
inline constexpr uint16_t kClearingWriteRegisterStep = 64;  // 128 bytes fill 64 registers
inline constexpr size_t kClearingWriteSize = 128;

struct DeviceSelectionTarget {
  uint32_t deviceAddress = 0;  // network order
  MacAddress localMac{};
  uint32_t localAddress = 0;  // host order
};

using MillisecondSleep = std::function<void(uint32_t milliseconds)>;

// Runs on the caller's thread (the window thread) and blocks it for at least
// 90 ms: the set-up datagram to deviceAddress:4440 through deviceSocket, a
// 10 ms pause, afterSetup (may be empty: the window marks the selected row
// there), then the sixteen 128-byte zero writes at 0x0400 + 64 * i through
// writer, each followed by a 5 ms pause. Send results are not examined; a
// set-up datagram sent is counted in counters.
void PerformDeviceSelectionWrites(const DatagramSender& deviceSocket, DeviceRegisterWriter& writer,
                                  DeviceLinkCounters& counters, const DeviceSelectionTarget& target,
                                  const MillisecondSleep& sleep,
                                  const std::function<void()>& afterSetup = {});

}  // namespace halvyn
