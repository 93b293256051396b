// The window as the console API's JSON.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "console/window_view.h"

namespace halvyn {

// Single-byte text as the network sent it (client and device names, and the
// log and list texts that carry them) as UTF-8: every byte becomes one
// character, U+0000 to U+00FF, so 0xE9 shows as é and no byte is lost.
std::string Latin1ToUtf8(std::string_view text);

// JSON texts as nlohmann's dump (not ASCII-only) writes them, in one pass: a
// busy relay appends thousands of log lines between two events.
// Latin1ToUtf8(text) as a JSON string.
std::string JsonString(std::string_view latin1);
// The numbers as a JSON array.
std::string JsonNumbers(const std::vector<int64_t>& numbers);
// An event's log increment: {"append": Latin1ToUtf8(append), "epoch", "offset", "times"}.
std::string LogIncrementJson(uint64_t epoch, uint64_t offset, std::string_view append,
                             const std::vector<int64_t>& times);

// Every field of the contract (the lists and the log as Latin1ToUtf8 gives them); messageLog is
// left out when the view has none (withLog false), so an event can carry a log increment instead.
nlohmann::json WindowJson(const WindowView& view, bool withLog = true);

// WindowJson(view) as its dump writes it (compact, invalid UTF-8 replaced),
// with the log and its times written directly: the log may be megabytes.
std::string WindowJsonText(const WindowView& view);

// The fields around the window's controls: status, remoteDeviceDetails,
// routeDetails, activity, messageBoxHints (part of every WindowJson).
void AddConsoleDetails(const WindowView& view, nlohmann::json& json);

// The errno text for "bind() failed N" and "Multicast bind failed:N", else "".
std::string ErrnoHint(std::string_view text);

}  // namespace halvyn
