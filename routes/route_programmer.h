// Writes a route's register blocks into the selected LAN device, with the
// pauses the device needs between consecutive writes.
//
// ProgramRouteReceive runs on the relay receive thread, the other two on the
// window thread. None of them takes a lock: callers copy what they need from
// the route state first. Every block is one DeviceRegisterWriter call.
#pragma once

#include <cstdint>
#include <functional>

#include "devicelink/device_register_writer.h"
#include "routes/route_blocks.h"
#include "routes/route_slot.h"

namespace halvyn {

// Pauses the calling thread for the given milliseconds (SleepMilliseconds in the
// server, a recorder in tests).
using PauseFunction = std::function<void(uint32_t milliseconds)>;

// The device takes a route block before the next one arrives only after this pause.
constexpr uint32_t kRouteWritePauseMs = 10;

class RouteProgrammer {
 public:
  // Both must outlive the programmer. An empty pause means SleepMilliseconds.
  RouteProgrammer(DeviceRegisterWriter& writer, PauseFunction pause = {});

  // Receive block at 2048 + 32*slot, pause 10 ms, route summary block at 2064 + 32*slot.
  // deviceAddress and txIp in network order.
  void ProgramRouteReceive(uint32_t deviceAddress, RouteSlot slot, uint8_t k,
                           const ChannelList& channels, uint32_t txIp, uint16_t txParam) const;

  // Transmit template at 1024 + 32*slot; one write, no pause.
  void ProgramRouteTransmit(const TransmitTemplateInputs& inputs) const;

  // Zeroes the three blocks: 64 bytes at 1024 + 32*slot, pause, 24 at
  // 2048 + 32*slot, pause, 12 at 2064 + 32*slot.
  void ClearRouteBlocks(uint32_t deviceAddress, RouteSlot slot) const;

 private:
  DeviceRegisterWriter& writer_;
  PauseFunction pause_;
};

}  // namespace halvyn
