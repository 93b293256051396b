#include "console/console_command.h"

#include <array>
#include <utility>

namespace halvyn {

std::optional<ConsoleCommand> ParseConsoleCommand(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, ConsoleCommand>, 9> kNames{{
      {"start-stop", ConsoleCommand::kStartStop},
      {"exit", ConsoleCommand::kExit},
      {"close", ConsoleCommand::kClose},
      {"clear-clients", ConsoleCommand::kClearClients},
      {"clear-messages", ConsoleCommand::kClearMessages},
      {"get-public-ip", ConsoleCommand::kGetPublicIp},
      {"select-device", ConsoleCommand::kSelectDevice},
      {"about", ConsoleCommand::kAbout},
      {"dismiss-message", ConsoleCommand::kDismissMessage},
  }};
  for (const auto& [text, command] : kNames)
    if (text == name) return command;
  return std::nullopt;
}

}  // namespace halvyn
