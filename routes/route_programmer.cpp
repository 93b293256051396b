#include "routes/route_programmer.h"

#include <array>

#include "platform/tick_count.h"

namespace halvyn {

RouteProgrammer::RouteProgrammer(DeviceRegisterWriter& writer, PauseFunction pause)
    : writer_(writer), pause_(pause ? std::move(pause) : PauseFunction(SleepMilliseconds)) {}

void RouteProgrammer::ProgramRouteReceive(uint32_t deviceAddress, RouteSlot slot, uint8_t k,
                                          const ChannelList& channels, uint32_t txIp,
                                          uint16_t txParam) const {
  const auto receive = BuildReceiveBlock(deviceAddress, slot, k, channels, txParam);
  writer_.WriteDeviceRegisters(deviceAddress, ReceiveBlockRegister(slot), receive);
  pause_(kRouteWritePauseMs);
  const auto summary = BuildRouteSummaryBlock(deviceAddress, slot, k, txIp);
  writer_.WriteDeviceRegisters(deviceAddress, RouteSummaryRegister(slot), summary);
}

void RouteProgrammer::ProgramRouteTransmit(const TransmitTemplateInputs& inputs) const {
  const auto block = BuildTransmitTemplate(inputs);
  writer_.WriteDeviceRegisters(inputs.deviceAddress, TransmitTemplateRegister(inputs.slot), block);
}

void RouteProgrammer::ClearRouteBlocks(uint32_t deviceAddress, RouteSlot slot) const {
  static constexpr std::array<uint8_t, kTransmitTemplateSize> kZeros{};
  writer_.WriteDeviceRegisters(deviceAddress, TransmitTemplateRegister(slot), kZeros);
  pause_(kRouteWritePauseMs);
  writer_.WriteDeviceRegisters(deviceAddress, ReceiveBlockRegister(slot),
                               std::span(kZeros).first<kReceiveBlockSize>());
  pause_(kRouteWritePauseMs);
  writer_.WriteDeviceRegisters(deviceAddress, RouteSummaryRegister(slot),
                               std::span(kZeros).first<kRouteSummaryBlockSize>());
}

}  // namespace halvyn
