#include "app/command_line.h"

#include <charconv>

#include "platform/ipv4.h"

namespace halvyn {

const char kUsage[] =
    "Usage: halvyn [--console ADDR:PORT | --no-console] [--start] [--token TOKEN]\n"
    "              [LIMIT OPTIONS] [--version] [--help]\n"
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
    "\n"
    "Limits at the relay port, per remote IPv4 address (0 turns one off; loopback\n"
    "sources and destinations are never limited):\n"
    "  --limit-datagrams-per-ip N   datagrams per second one address may send\n"
    "                               (default 200)\n"
    "  --limit-names-per-ip N       names one address may have logged in (default 64)\n"
    "  --limit-bytes-per-ip N       bytes per second sent to one address\n"
    "                               (default 100000)\n"
    "  --list-bytes-per-second N    bytes per second of client lists for everyone;\n"
    "                               faster changes are merged (default 10000000)\n"
    "  --routes-from-clients-only   route requests and releases only from an\n"
    "                               address with a client logged in\n"
    "\n"
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
    } else if (arg == "--limit-datagrams-per-ip" || arg == "--limit-names-per-ip" ||
               arg == "--limit-bytes-per-ip" || arg == "--list-bytes-per-second") {
      std::string text;
      if (!value(text)) return std::nullopt;
      const bool wide = arg == "--list-bytes-per-second";
      uint64_t number = 0;
      const char* end = text.data() + text.size();
      const auto parsed = std::from_chars(text.data(), end, number);
      if (text.empty() || parsed.ec != std::errc() || parsed.ptr != end ||
          (!wide && number > UINT32_MAX)) {
        error = arg + " takes a whole number (0 turns the limit off)";
        return std::nullopt;
      }
      if (arg == "--limit-datagrams-per-ip") line.limits.datagramsPerIp = uint32_t(number);
      if (arg == "--limit-names-per-ip") line.limits.namesPerIp = uint32_t(number);
      if (arg == "--limit-bytes-per-ip") line.limits.bytesPerIp = uint32_t(number);
      if (wide) line.limits.listBytesPerSecond = number;
    } else if (arg == "--routes-from-clients-only") {
      line.limits.routesFromClientsOnly = true;
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
