// The window as the console API's JSON.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "console/window_view.h"

namespace halvyn {

// Every field of the contract; messageLog is left out when the view has none
// (withLog false), so an event can carry a log increment instead.
nlohmann::json WindowJson(const WindowView& view, bool withLog = true);

// The fields around the window's controls: status, remoteDeviceDetails,
// routeDetails, activity, messageBoxHints (part of every WindowJson).
void AddConsoleDetails(const WindowView& view, nlohmann::json& json);

// The errno text for "bind() failed N" and "Multicast bind failed:N", else "".
std::string ErrnoHint(std::string_view text);

}  // namespace halvyn
