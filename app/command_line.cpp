#include "app/command_line.h"

#include <charconv>

#include "platform/ipv4.h"

namespace halvyn {

const char kUsage[] =
    "Usage: halvyn [--console ADDR:PORT | --no-console] [--start] [--token TOKEN]\n"
    "              [--lan-interface NAME] [--version] [--help]\n"
    "\n"
    "Runs the Halvyn relay server and its operator console.\n"
    "\n"
    "  --console ADDR:PORT  serve the console here (default 127.0.0.1:7080); on an\n"
    "                       address other than loopback a token is required\n"
    "  --no-console         run without the console (stop with SIGINT or SIGTERM)\n"
    "  --start              press Start once start-up is done\n"
    "  --token TOKEN        the console's bearer token (also read from the\n"
    "                       environment variable HALVYN_TOKEN; generated and printed\n"
    "                       when the console is not on loopback and none is given)\n"
    "  --lan-interface NAME the adapter that faces the LAN devices (default: the\n"
    "                       wired adapter that is up with carrier and an IPv4\n"
    "                       address, preferring one with the default route, and\n"
    "                       a bridge or veth link only when nothing else qualifies)\n"
    "  --version            print the version and exit\n"
    "  --help               print this text and exit\n";

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error) {
  CommandLine line;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    if (arg == "--console") {
      std::string endpoint;
      if (!value(endpoint)) return std::nullopt;
      const auto colon = endpoint.rfind(':');
      unsigned port = 0;
      const char* portText = endpoint.data() + colon + 1;
      const char* end = endpoint.data() + endpoint.size();
      if (colon == std::string::npos || !ParseDotted(endpoint.substr(0, colon)) ||
          std::from_chars(portText, end, port).ptr != end || portText == end || port == 0 ||
          port > 65535) {
        error = "--console takes ADDR:PORT with an IPv4 address, for example 127.0.0.1:7080";
        return std::nullopt;
      }
      line.console = true;
      line.consoleAddress = endpoint.substr(0, colon);
      line.consolePort = uint16_t(port);
    } else if (arg == "--no-console") {
      line.console = false;
    } else if (arg == "--start") {
      line.start = true;
    } else if (arg == "--token") {
      if (!value(line.token)) return std::nullopt;
      if (line.token.empty()) {
        error = "--token must not be empty";
        return std::nullopt;
      }
    } else if (arg == "--lan-interface") {
      if (!value(line.lanInterface)) return std::nullopt;
      if (line.lanInterface.empty()) {
        error = "--lan-interface must not be empty";
        return std::nullopt;
      }
    } else if (arg == "--version") {
      line.version = true;
    } else if (arg == "--help" || arg == "-h") {
      line.help = true;
    } else {
      error = "unknown option: " + arg;
      return std::nullopt;
    }
  }
  return line;
}

}  // namespace halvyn
