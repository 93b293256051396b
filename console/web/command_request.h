// The body of POST /api/command: {"command": NAME, "controls": {...}, "row": N}.
//
// Parsing and validation only, no window: the HTTP handler answers a refused
// body with 400 and the error text, and runs an accepted one on the window
// thread. Pure; any thread; never throws.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "console/console_command.h"
#include "console/window_view.h"

namespace halvyn {

struct CommandRequest {
  ConsoleCommand command;
  ControlInput controls;  // only the texts the body carries
  int row = -1;           // -1 when absent or outside -1..1000000
};

// Why a body was refused, e.g. "body must be a JSON object", "unknown command",
// "unknown control: NAME", "control NAME must be a string".
struct CommandRequestError {
  std::string message;
};

std::variant<CommandRequest, CommandRequestError> ParseCommandRequest(std::string_view body);

}  // namespace halvyn
