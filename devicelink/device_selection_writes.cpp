#include "devicelink/device_selection_writes.h"

#include <array>

#include "devicelink/device_link_constants.h"
#include "devicelink/device_setup_packet.h"

namespace halvyn {

void PerformDeviceSelectionWrites(const DatagramSender& deviceSocket, DeviceRegisterWriter& writer,
                                  DeviceLinkCounters& counters, const DeviceSelectionTarget& target,
                                  const MillisecondSleep& sleep,
                                  const std::function<void()>& afterSetup) {
  const DeviceSetupPacket setup = BuildDeviceSetupPacket(target.localMac, target.localAddress);
  // The device acknowledges nothing; a lost set-up datagram is not reported.
  if (deviceSocket.SendTo(setup, {target.deviceAddress, kDeviceRegisterPort}))
    counters.setupDatagrams.Add();
  sleep(kSetupPauseMs);
  if (afterSetup) afterSetup();
  static constexpr std::array<uint8_t, kClearingWriteSize> kZeros{};
  for (int i = 0; i < kClearingWriteCount; ++i) {
    const auto registerAddress =
        uint16_t(kFirstTransmitTemplateRegister + kClearingWriteRegisterStep * i);
    writer.WriteDeviceRegisters(target.deviceAddress, registerAddress, kZeros);
    sleep(kClearingWritePauseMs);
  }
}

}  // namespace halvyn
