#include "routes/forward_route_rows.h"

#include <algorithm>

namespace halvyn {

namespace {

std::string EndpointText(uint32_t address, uint16_t port) {
  return DottedText(address) + " : " + std::to_string(port);
}

std::string ChannelsText(const CRouteInfo& record) {
  const ChannelList channels = record.tx_chans();
  const unsigned count = std::min<unsigned>(record.tx_chan_count(), kMaxRouteChannels);
  std::string text;
  for (unsigned i = 0; i < count; ++i) {
    if (i > 0) text += '/';
    text += std::to_string(channels[i]);
  }
  return text;
}

}  // namespace

std::string RouteRowNumber(RouteSlot slot) {
  return std::to_string(slot + 1);
}

std::optional<RouteRow> MakeRouteRow(RouteSlot slot, const CRouteInfo& record,
                                     const ClientLookup& clients) {
  if (!clients(record.tx_name()) || !clients(record.rx_name())) return std::nullopt;
  RouteRow row;
  row.slot = slot;
  row.columns = {RouteRowNumber(slot),
                 std::string(record.tx_name()),
                 EndpointText(record.tx_ip(), record.tx_port()),
                 std::string(record.rx_name()),
                 EndpointText(record.rx_ip(), record.rx_port()),
                 ChannelsText(record)};
  return row;
}

size_t RouteRowPosition(RouteSlot slot, size_t rowCount) {
  return std::min(size_t(std::max(slot, 0)), rowCount);
}

std::optional<size_t> FindRouteRow(const std::vector<std::array<std::string, 6>>& rows,
                                   RouteSlot slot) {
  const std::string number = RouteRowNumber(slot);
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i][0] == number) return i;
  }
  return std::nullopt;
}

void ForwardRouteRows::AddRouteRow(const RouteRow& row) {
  const size_t position = RouteRowPosition(row.slot, rows_.size());
  rows_.insert(rows_.begin() + std::ptrdiff_t(position), row.columns);
}

bool ForwardRouteRows::RemoveRouteRow(RouteSlot slot) {
  const std::optional<size_t> index = FindRouteRow(rows_, slot);
  if (!index) return false;
  rows_.erase(rows_.begin() + std::ptrdiff_t(*index));
  return true;
}

}  // namespace halvyn
