// The window as the console API's JSON.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>

#include "console/window_view.h"

namespace halvyn {

// Every field of the contract; messageLog is left out when the view has none
// (withLog false), so an event can carry a log increment instead.
nlohmann::json WindowJson(const WindowView& view, bool withLog = true);

}  // namespace halvyn
