#include "tools/client/client_options.h"

#include <charconv>

#include "tools/client/client_command.h"

namespace halvyn {

const char kClientUsage[] =
    "usage: halvyn-client [--server HOST[:PORT]] [--bind ADDR[:PORT]] --name NAME\n"
    "                     [--p2p IP:PORT] [--keepalive-interval MS] [COMMAND...]\n"
    "       halvyn-client [--server HOST[:PORT]] [--bind ADDR[:PORT]] [--timeout MS]\n"
    "                     [--verbose] check\n"
    "\n"
    "A simulated remote device of the Halvyn relay. Commands come from the command\n"
    "line or, when there are none, from standard input, one per line:\n"
    "  login | logout | keepalive [P2P_IP P2P_PORT] | info P2P_IP P2P_PORT\n"
    "  connect NAME | probe SLOTPORT | release SLOTPORT\n"
    "  route TXNAME TXIP:TXPORT TXCHANS RXNAME RXIP:RXPORT RXCHANS [TXPARAM]\n"
    "  wait SECONDS | expect LETTER [SECONDS] | echo TEXT | quit\n"
    "Every datagram sent and received is printed as one line.\n"
    "Limits: NAME (and the names in connect and route) at most 31 bytes; wait and\n"
    "expect take 0 to 3600 seconds, with decimals (expect waits 3 s by default);\n"
    "a line it cannot read or a command that fails (a send, an expect that times\n"
    "out) is reported as \"error ...\" or \"expect L timeout\" and the rest still runs;\n"
    "at the end the exit status is then 1, after a logout if the client is\n"
    "logged in.\n"
    "check logs in under a temporary name, checks the answers, logs out and\n"
    "prints a verdict; the exit status is 0 when everything passed.\n"
    "The server defaults to 127.0.0.1:7002.\n";

namespace {

std::optional<uint32_t> ParseMilliseconds(const std::string& text) {
  uint32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::optional<uint16_t> ParsePortText(std::string_view text) {
  uint16_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// "HOST" or "HOST:PORT"; the port keeps its value when left out.
bool SplitHostPort(const std::string& text, std::string& host, uint16_t& port) {
  const size_t colon = text.rfind(':');
  host = text.substr(0, colon);
  if (colon != std::string::npos) {
    const auto parsed = ParsePortText(std::string_view(text).substr(colon + 1));
    if (!parsed) return false;
    port = *parsed;
  }
  return !host.empty();
}

}  // namespace

std::optional<ClientOptions> ParseClientOptions(const std::vector<std::string>& args,
                                                std::string& error) {
  ClientOptions options;
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> const std::string* {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return nullptr;
      }
      return &args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--server") {
      const std::string* text = value();
      if (!text) return std::nullopt;
      if (!SplitHostPort(*text, options.serverHost, options.serverPort)) {
        error = "--server takes HOST or HOST:PORT, not " + *text;
        return std::nullopt;
      }
    } else if (arg == "--bind") {
      const std::string* text = value();
      if (!text) return std::nullopt;
      std::string host;
      uint16_t port = 0;
      const auto address = SplitHostPort(*text, host, port) ? ParseDotted(host) : std::nullopt;
      if (!address) {
        error = "--bind takes ADDR or ADDR:PORT with a dotted address, not " + *text;
        return std::nullopt;
      }
      options.bind = {*address, port};
    } else if (arg == "--name") {
      const std::string* text = value();
      if (!text) return std::nullopt;
      if (text->empty() || text->size() > 31) {
        error = "--name takes 1 to 31 characters";
        return std::nullopt;
      }
      options.name = *text;
    } else if (arg == "--p2p") {
      const std::string* text = value();
      if (!text) return std::nullopt;
      const auto endpoint = ParseEndpoint(*text);
      if (!endpoint) {
        error = "--p2p takes IP:PORT, not " + *text;
        return std::nullopt;
      }
      options.p2p = *endpoint;
    } else if (arg == "--keepalive-interval" || arg == "--timeout") {
      const std::string* text = value();
      if (!text) return std::nullopt;
      const auto ms = ParseMilliseconds(*text);
      if (!ms || (arg == "--timeout" && *ms == 0)) {
        error = arg + " takes a number of milliseconds, not " + *text;
        return std::nullopt;
      }
      (arg == "--timeout" ? options.timeoutMs : options.keepAliveIntervalMs) = *ms;
    } else if (arg.starts_with("--")) {
      error = "unknown option " + arg;
      return std::nullopt;
    } else {
      words.push_back(arg);
    }
  }
  if (options.help || options.version) return options;

  options.commands = GroupCommandWords(words);
  for (const std::string& line : options.commands) {
    if (line == "check") options.check = true;
  }
  if (options.check && options.commands.size() != 1) {
    error = "check runs alone";
    return std::nullopt;
  }
  if (!options.check && options.name.empty()) {
    error = "--name is required";
    return std::nullopt;
  }
  return options;
}

}  // namespace halvyn
