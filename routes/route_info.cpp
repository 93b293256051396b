#include "routes/route_info.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace halvyn {

using namespace route_info;

CRouteInfo::CRouteInfo(std::span<const uint8_t, kSize> bytes) {
  std::copy(bytes.begin(), bytes.end(), bytes_.begin());
}

void CRouteInfo::WriteTo(std::span<uint8_t, kSize> out) const {
  std::copy(bytes_.begin(), bytes_.end(), out.begin());
}

bool CRouteInfo::IsZero() const {
  return std::all_of(bytes_.begin(), bytes_.end(), [](uint8_t b) { return b == 0; });
}

uint16_t CRouteInfo::tx_param() const {
  return LoadLe16(&bytes_[kTxParamOffset]);
}
uint32_t CRouteInfo::tx_ip() const {
  return LoadNetworkAddress(&bytes_[kTxIpOffset]);
}
uint16_t CRouteInfo::tx_port() const {
  return LoadLe16(&bytes_[kTxPortOffset]);
}
uint32_t CRouteInfo::rx_ip() const {
  return LoadNetworkAddress(&bytes_[kRxIpOffset]);
}
uint16_t CRouteInfo::rx_port() const {
  return LoadLe16(&bytes_[kRxPortOffset]);
}

ChannelList CRouteInfo::tx_chans() const {
  ChannelList channels;
  std::copy_n(&bytes_[kTxChansOffset], channels.size(), channels.begin());
  return channels;
}

void CRouteInfo::set_tx_param(uint16_t value) {
  StoreLe16(&bytes_[kTxParamOffset], value);
}
void CRouteInfo::set_tx_ip(uint32_t networkOrder) {
  StoreNetworkAddress(&bytes_[kTxIpOffset], networkOrder);
}
void CRouteInfo::set_tx_port(uint16_t port) {
  StoreLe16(&bytes_[kTxPortOffset], port);
}
void CRouteInfo::set_rx_ip(uint32_t networkOrder) {
  StoreNetworkAddress(&bytes_[kRxIpOffset], networkOrder);
}
void CRouteInfo::set_rx_port(uint16_t port) {
  StoreLe16(&bytes_[kRxPortOffset], port);
}

void CRouteInfo::set_tx_chans(const ChannelList& channels) {
  std::copy(channels.begin(), channels.end(), &bytes_[kTxChansOffset]);
}

std::string_view CRouteInfo::NameAt(size_t offset) const {
  const uint8_t* begin = &bytes_[offset];
  const uint8_t* end = std::find(begin, begin + kNameSize, uint8_t{0});
  return std::string_view(reinterpret_cast<const char*>(begin), size_t(end - begin));
}

void CRouteInfo::SetNameAt(size_t offset, std::string_view name) {
  const size_t length = std::min(name.size(), kNameSize - 1);
  std::fill_n(&bytes_[offset], kNameSize, uint8_t{0});
  std::memcpy(&bytes_[offset], name.data(), length);
}

}  // namespace halvyn
