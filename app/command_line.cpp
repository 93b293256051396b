#include "app/command_line.h"

#include <charconv>
#include <cstdint>

#include "platform/command_options.h"
#include "platform/ipv4.h"

namespace halvyn {

const char kUsage[] =
    "Usage: halvyn [--console ADDR:PORT | --no-console] [--start] [--token TOKEN]\n"
    "              [--console-limits CONN,PER_IP,STREAMS,HEADER_S] [--lan-interface NAME]\n"
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
    "  --console-limits CONN,PER_IP,STREAMS,HEADER_S\n"
    "                       the console's connections at once (default 256), per IP\n"
    "                       address (32), event streams (64), and seconds to send a\n"
    "                       whole request header (10)\n"
    "  --lan-interface NAME the adapter that faces the LAN devices (default: the\n"
    "                       wired adapter that is up with carrier and an IPv4\n"
    "                       address, preferring one with the default route, and\n"
    "                       a bridge or veth link only when nothing else qualifies)\n"
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
    "  --relay-receive-buffer N     the relay socket's receive buffer in bytes, for\n"
    "                               bursts (default 4194304; 0: the kernel's default)\n"
    "\n"
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

// A number from 0 to most into field.
template <typename Field>
CommandOption NumberOption(const char* name, uint64_t most, const char* takes, Field& field) {
  return OptionWithValue(name, [=, &field](const std::string& value, std::string& error) {
    const auto number = ParseWholeNumber(value, most);
    if (!number) error = std::string("--") + name + takes;
    if (number) field = Field(*number);
    return number.has_value();
  });
}

// Any text but the empty one into field.
CommandOption TextOption(const char* name, std::string& field) {
  return OptionWithValue(name, [name, &field](const std::string& value, std::string& error) {
    if (value.empty()) error = std::string("--") + name + " must not be empty";
    field = value;
    return !value.empty();
  });
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error) {
  CommandLine line;
  const auto console = [&](const std::string& value, std::string& message) {
    const auto endpoint = ParseEndpoint(value);
    if (!endpoint || endpoint->port == 0) {
      message = "--console takes ADDR:PORT with an IPv4 address, for example 127.0.0.1:7080";
      return false;
    }
    line.console = true;
    line.consoleAddress = std::string(SplitHostPort(value)->host);
    line.consolePort = endpoint->port;
    return true;
  };
  const auto consoleLimits = [&](const std::string& value, std::string& message) {
    if (ParseConsoleLimits(value, line.consoleLimits)) return true;
    message = "--console-limits takes four numbers from 1 to 100000, for example 256,32,64,10";
    return false;
  };
  RelayLimits& limits = line.limits;
  constexpr char kLimit[] = " takes a whole number (0 turns the limit off)";
  const CommandOption options[] = {
      OptionWithValue("console", console),
      OptionFlag("no-console", line.console, false),
      OptionFlag("start", line.start),
      TextOption("token", line.token),
      OptionWithValue("console-limits", consoleLimits),
      TextOption("lan-interface", line.lanInterface),
      NumberOption("limit-datagrams-per-ip", UINT32_MAX, kLimit, limits.datagramsPerIp),
      NumberOption("limit-names-per-ip", UINT32_MAX, kLimit, limits.namesPerIp),
      NumberOption("limit-bytes-per-ip", UINT32_MAX, kLimit, limits.bytesPerIp),
      NumberOption("list-bytes-per-second", UINT64_MAX, kLimit, limits.listBytesPerSecond),
      OptionFlag("routes-from-clients-only", limits.routesFromClientsOnly),
      NumberOption("relay-receive-buffer", 1024u * 1024 * 1024,
                   " takes a number of bytes up to 1073741824", limits.receiveBufferBytes),
      OptionFlag("version", line.version),
      OptionFlag("help", line.help),
  };
  if (!ReadCommandOptions(args, options, "unknown option: ", nullptr, error)) return std::nullopt;
  return line;
}

}  // namespace halvyn
