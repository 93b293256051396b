// The three register blocks a route occupies in the selected LAN device.
//
// Register addresses count 16-bit registers; each register is sent high byte
// first, so the arrays below are in the order they go on the wire.
//
//   block                first register (slot s)   bytes
//   transmit template    1024 + 32*s                64    written at activation
//   receive block        2048 + 32*s                24    written at allocation
//   route summary block  2064 + 32*s                12    written at allocation
//
// Channel entries: channel c (1..32) is the byte 0xC0 | (c - 1); a zero in the
// list gives 0xFF; entries past the count are 0. The eight entries form a
// 64-bit value (byte i = entry i) sent least significant register first:
// entry 1, 0, 3, 2, 5, 4, 7, 6.
//
// Receive block:  0..1 zero | 2..3 device address octets 3 and 4 | 4..5 zero |
//                 6..7 slot port BE | 8..15 entries (k) | 16 0x67 | 17 0x30 |
//                 18..21 zero | 22..23 tx_param BE
// Summary block:  0 k | 1 slot | 2..3 slot port LE | 4..7 device address | 8..11 tx_ip
// Template:       0..7 entries (n) | 8 n+95 | 9 103 | 10..15 zero |
//                 16..57 Ethernet/IPv4/UDP header | 58 zero | 59 n | 60 0x01 | 61..63 zero
// Header (BE):    0 gateway MAC | 6 device MAC | 12 0x0800 | 14 0x45 | 15 0xB8 |
//                 16 total length 40+144n | 18 0x0201 | 20 0x4000 | 22 TTL 128 |
//                 23 UDP | 24 checksum 0 | 26 device address | 30 rx_ip |
//                 34 slot port | 36 learnt port | 38 UDP length 20+144n | 40 0xFFFF
#pragma once

#include <array>
#include <cstdint>

#include "routes/route_slot.h"

namespace halvyn {

constexpr size_t kTransmitTemplateSize = 64;
constexpr size_t kReceiveBlockSize = 24;
constexpr size_t kRouteSummaryBlockSize = 12;
constexpr size_t kFrameHeaderSize = 42;

constexpr uint16_t TransmitTemplateRegister(RouteSlot slot) {
  return uint16_t(1024 + 32 * slot);
}
constexpr uint16_t ReceiveBlockRegister(RouteSlot slot) {
  return uint16_t(2048 + 32 * slot);
}
constexpr uint16_t RouteSummaryRegister(RouteSlot slot) {
  return uint16_t(2064 + 32 * slot);
}

// The eight entry bytes, in wire order, for the first min(count, 8) channels.
std::array<uint8_t, 8> ChannelEntryBytes(const ChannelList& channels, unsigned count);

// deviceAddress and txIp in network order; k is the route's tx_chan_count.
std::array<uint8_t, kReceiveBlockSize> BuildReceiveBlock(uint32_t deviceAddress, RouteSlot slot,
                                                         uint8_t k, const ChannelList& channels,
                                                         uint16_t txParam);
std::array<uint8_t, kRouteSummaryBlockSize> BuildRouteSummaryBlock(uint32_t deviceAddress,
                                                                   RouteSlot slot, uint8_t k,
                                                                   uint32_t txIp);

struct TransmitTemplateInputs {
  std::array<uint8_t, 6> gatewayMac{};  // Ethernet destination
  std::array<uint8_t, 6> deviceMac{};   // Ethernet source: the selected device
  uint32_t deviceAddress = 0;           // IPv4 source, network order
  uint32_t rxIp = 0;                    // IPv4 destination, network order
  uint16_t learntPort = 0;              // UDP destination, host order
  uint8_t rxChanCount = 0;              // n
  ChannelList channels{};               // the record's tx_chans
  RouteSlot slot = 0;                   // gives the UDP source port
};

std::array<uint8_t, kFrameHeaderSize> BuildFrameHeader(const TransmitTemplateInputs& inputs);
std::array<uint8_t, kTransmitTemplateSize> BuildTransmitTemplate(
    const TransmitTemplateInputs& inputs);

}  // namespace halvyn
