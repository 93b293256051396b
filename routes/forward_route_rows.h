// The rows of the forward route list and the rules for adding and removing them.
//
// One row per active route; six column texts:
//   0 slot + 1 ("%d")          3 Rx client name
//   1 Tx client name           4 "<rx_ip> : <rx_port>" (the requested port)
//   2 "<tx_ip> : <tx_port>"    5 the route's channels joined by "/"
// Window thread only.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "routes/client_lookup.h"
#include "routes/route_info.h"
#include "routes/route_slot.h"

namespace halvyn {

struct RouteRow {
  RouteSlot slot = 0;
  std::array<std::string, 6> columns;
  bool operator==(const RouteRow&) const = default;
};

// The first-column text of a slot's row: slot + 1 in decimal.
std::string RouteRowNumber(RouteSlot slot);

// The row of an active route, or none when the Tx or the Rx client is not
// logged in (clients looked up by tx_name and rx_name).
std::optional<RouteRow> MakeRouteRow(RouteSlot slot, const CRouteInfo& record,
                                     const ClientLookup& clients);

// Where a slot's row goes: at position slot, or at the end of a list that
// holds fewer rows.
size_t RouteRowPosition(RouteSlot slot, size_t rowCount);

// The first row, from the top, whose first column reads RouteRowNumber(slot).
std::optional<size_t> FindRouteRow(const std::vector<std::array<std::string, 6>>& rows,
                                   RouteSlot slot);

// The list itself, for a window that keeps its rows as data.
class ForwardRouteRows {
 public:
  // Inserts at RouteRowPosition(row.slot, rows().size()).
  void AddRouteRow(const RouteRow& row);
  // Deletes the row FindRouteRow names; false when there is none.
  bool RemoveRouteRow(RouteSlot slot);
  void Clear() { rows_.clear(); }
  const std::vector<std::array<std::string, 6>>& rows() const { return rows_; }

 private:
  std::vector<std::array<std::string, 6>> rows_;
};

}  // namespace halvyn
