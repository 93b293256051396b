// CRouteInfo: the 108-byte route record. It is the body of every route packet
// (bytes 120..227) and the record kept for each route slot.
//
//   offset width order    field
//        0     2          not interpreted (a release request carries the slot port here)
//        2     2 LE       tx_param       passed into the device's receive block
//        4     4 network  tx_ip          Tx device address
//        8     2 LE       tx_port        Tx device UDP port
//       10     1          not interpreted
//       11     1          tx_chan_count  channels asked for, 1..8
//       12     8          tx_chans       stored record: allocated channels, ascending, zero after
//       20     4          not interpreted
//       24     4 network  rx_ip          Rx device address
//       28     2 LE       rx_port        Rx device UDP port
//       30     1          not interpreted
//       31     1          rx_chan_count  channel count of the transmit template
//       32    12          not interpreted
//       44    32          tx_name        NUL-terminated client name
//       76    32          rx_name        NUL-terminated client name
//
// Ports and tx_param travel least significant byte first (not network order).
// Uninterpreted bytes are kept and sent back exactly as received. A plain value;
// copy it freely between threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/ipv4.h"
#include "routes/route_slot.h"

namespace halvyn {

namespace route_info {

inline constexpr size_t kSize = 108;
inline constexpr size_t kTxParamOffset = 2;
inline constexpr size_t kTxIpOffset = 4;
inline constexpr size_t kTxPortOffset = 8;
inline constexpr size_t kTxChanCountOffset = 11;
inline constexpr size_t kTxChansOffset = 12;
inline constexpr size_t kRxIpOffset = 24;
inline constexpr size_t kRxPortOffset = 28;
inline constexpr size_t kRxChanCountOffset = 31;
inline constexpr size_t kTxNameOffset = 44;
inline constexpr size_t kRxNameOffset = 76;
inline constexpr size_t kNameSize = 32;

}  // namespace route_info

// A route record by value: its 108 bytes, read and written through the offsets above.
class CRouteInfo {
 public:
  // All zero: the record of a free slot.
  CRouteInfo() = default;
  explicit CRouteInfo(std::span<const uint8_t, route_info::kSize> bytes);

  std::span<const uint8_t, route_info::kSize> bytes() const { return bytes_; }
  void WriteTo(std::span<uint8_t, route_info::kSize> out) const;
  bool IsZero() const;

  uint16_t tx_param() const;
  uint32_t tx_ip() const;  // network order
  uint16_t tx_port() const;
  uint8_t tx_chan_count() const { return bytes_[route_info::kTxChanCountOffset]; }
  ChannelList tx_chans() const;
  uint32_t rx_ip() const;  // network order
  uint16_t rx_port() const;
  uint8_t rx_chan_count() const { return bytes_[route_info::kRxChanCountOffset]; }
  // The name up to its NUL; all 32 bytes when the client left out the NUL
  // (such a name matches no logged-in client, whose names are at most 31 bytes).
  std::string_view tx_name() const { return NameAt(route_info::kTxNameOffset); }
  std::string_view rx_name() const { return NameAt(route_info::kRxNameOffset); }

  Ipv4Endpoint tx_endpoint() const { return {tx_ip(), tx_port()}; }
  Ipv4Endpoint rx_endpoint() const { return {rx_ip(), rx_port()}; }

  void set_tx_param(uint16_t value);
  void set_tx_ip(uint32_t networkOrder);
  void set_tx_port(uint16_t port);
  void set_tx_chan_count(uint8_t count) { bytes_[route_info::kTxChanCountOffset] = count; }
  void set_tx_chans(const ChannelList& channels);
  void set_rx_ip(uint32_t networkOrder);
  void set_rx_port(uint16_t port);
  void set_rx_chan_count(uint8_t count) { bytes_[route_info::kRxChanCountOffset] = count; }
  // Stores at most 31 bytes of the name and NUL-fills the rest of the field.
  void set_tx_name(std::string_view name) { SetNameAt(route_info::kTxNameOffset, name); }
  void set_rx_name(std::string_view name) { SetNameAt(route_info::kRxNameOffset, name); }

  bool operator==(const CRouteInfo&) const = default;

 private:
  std::string_view NameAt(size_t offset) const;
  void SetNameAt(size_t offset, std::string_view name);

  std::array<uint8_t, route_info::kSize> bytes_{};
};

}  // namespace halvyn
