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

enum Option : size_t {
  kConsole,
  kNoConsole,
  kStart,
  kToken,
  kConsoleLimits,
  kLanInterface,
  kLimitDatagramsPerIp,
  kLimitNamesPerIp,
  kLimitBytesPerIp,
  kListBytesPerSecond,
  kRoutesFromClientsOnly,
  kRelayReceiveBuffer,
  kVersion,
  kHelp,
};

// In the order of Option.
constexpr CommandOption kOptions[] = {
    {"console", true},
    {"no-console"},
    {"start"},
    {"token", true},
    {"console-limits", true},
    {"lan-interface", true},
    {"limit-datagrams-per-ip", true},
    {"limit-names-per-ip", true},
    {"limit-bytes-per-ip", true},
    {"list-bytes-per-second", true},
    {"routes-from-clients-only"},
    {"relay-receive-buffer", true},
    {"version"},
    {"help"},
};

// One option of the line; false, with error set, when its value is wrong.
bool TakeOption(CommandLine& line, size_t option, const std::string& value, std::string& error) {
  const std::string name = std::string("--") + kOptions[option].name;
  switch (option) {
    case kConsole: {
      const auto endpoint = ParseEndpoint(value);
      if (!endpoint || endpoint->port == 0) {
        error = "--console takes ADDR:PORT with an IPv4 address, for example 127.0.0.1:7080";
        return false;
      }
      line.console = true;
      line.consoleAddress = std::string(SplitHostPort(value)->host);
      line.consolePort = endpoint->port;
      return true;
    }
    case kNoConsole:
      line.console = false;
      return true;
    case kStart:
      line.start = true;
      return true;
    case kToken:
      line.token = value;
      if (value.empty()) error = "--token must not be empty";
      return !value.empty();
    case kConsoleLimits:
      if (ParseConsoleLimits(value, line.consoleLimits)) return true;
      error = "--console-limits takes four numbers from 1 to 100000, for example 256,32,64,10";
      return false;
    case kLanInterface:
      line.lanInterface = value;
      if (value.empty()) error = "--lan-interface must not be empty";
      return !value.empty();
    case kRoutesFromClientsOnly:
      line.limits.routesFromClientsOnly = true;
      return true;
    case kVersion:
      line.version = true;
      return true;
    case kHelp:
      line.help = true;
      return true;
    case kRelayReceiveBuffer: {
      const auto bytes = ParseWholeNumber(value, 1024u * 1024 * 1024);
      if (!bytes) error = name + " takes a number of bytes up to 1073741824";
      if (bytes) line.limits.receiveBufferBytes = uint32_t(*bytes);
      return bytes.has_value();
    }
    default: {
      const auto number =
          ParseWholeNumber(value, option == kListBytesPerSecond ? UINT64_MAX : UINT32_MAX);
      if (!number) {
        error = name + " takes a whole number (0 turns the limit off)";
        return false;
      }
      if (option == kLimitDatagramsPerIp) line.limits.datagramsPerIp = uint32_t(*number);
      if (option == kLimitNamesPerIp) line.limits.namesPerIp = uint32_t(*number);
      if (option == kLimitBytesPerIp) line.limits.bytesPerIp = uint32_t(*number);
      if (option == kListBytesPerSecond) line.limits.listBytesPerSecond = *number;
      return true;
    }
  }
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                            std::string& error) {
  CommandLine line;
  const CommandOptionHandlers handlers{
      [&](size_t option, const std::string& value, std::string& message) {
        return TakeOption(line, option, value, message);
      },
      nullptr};
  if (!ReadCommandOptions(args, kOptions, "unknown option: ", handlers, error)) return std::nullopt;
  return line;
}

}  // namespace halvyn
