#include "app/command_line.h"

#include <charconv>

#include "platform/ipv4.h"

namespace halvyn {

const char kUsage[] =
    "Usage: halvyn [--console ADDR:PORT | --no-console] [--start] [--token TOKEN]\n"
    "              [--console-limits CONN,PER_IP,STREAMS,HEADER_S] [--version] [--help]\n"
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
    "  --console-limits CONN,PER_IP,STREAMS,HEADER_S\n"
    "                       the console's connections at once (default 256), per IP\n"
    "                       address (32), event streams (64), and seconds to send a\n"
    "                       whole request header (10)\n"
    "  --version            print the version and exit\n"
    "  --help               print this text and exit\n";

namespace {

// "CONN,PER_IP,STREAMS,HEADER_S": four numbers from 1 to 100000.
bool ParseConsoleLimits(std::string_view text, ConsoleLimits& limits) {
  int* fields[] = {&limits.connections, &limits.connectionsPerIp, &limits.eventStreams,
                   &limits.headerSeconds};
  const char* at = text.data();
  const char* end = text.data() + text.size();
  for (size_t i = 0; i < std::size(fields); ++i) {
    if (i > 0) {
      if (at == end || *at != ',') return false;
      ++at;
    }
    int number = 0;
    const auto [next, failure] = std::from_chars(at, end, number);
    if (failure != std::errc() || number < 1 || number > 100000) return false;
    *fields[i] = number;
    at = next;
  }
  return at == end;
}

}  // namespace

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
    } else if (arg == "--console-limits") {
      std::string text;
      if (!value(text) || !ParseConsoleLimits(text, line.consoleLimits)) {
        if (error.empty())
          error = "--console-limits takes four numbers from 1 to 100000, for example 256,32,64,10";
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
