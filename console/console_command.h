// The operator's commands, as the console API names them.
#pragma once

#include <optional>
#include <string_view>

namespace halvyn {

enum class ConsoleCommand {
  kStartStop,
  kExit,
  kClose,
  kClearClients,
  kClearMessages,
  kGetPublicIp,
  kSelectDevice,
  kAbout,
  kDismissMessage,
};

std::optional<ConsoleCommand> ParseConsoleCommand(std::string_view name);

}  // namespace halvyn
