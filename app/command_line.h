// halvyn's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/web/console_limits.h"
#include "relay/relay_limits.h"

namespace halvyn {

struct CommandLine {
  bool console = true;
  std::string consoleAddress = "127.0.0.1";
  uint16_t consolePort = 7080;
  bool start = false;
  std::string token;
  ConsoleLimits consoleLimits;
  std::string lanInterface;  // empty: chosen from the adapters' state
  bool version = false;
  bool help = false;
  RelayLimits limits;
};

// Parses argv (without the program name); on a mistake returns nothing and
// sets error to a line for the user.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error);

extern const char kUsage[];

}  // namespace halvyn
