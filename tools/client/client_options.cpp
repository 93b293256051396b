#include "tools/client/client_options.h"

#include <cstdint>

#include "platform/command_options.h"
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

// Milliseconds into field; 0 only when zero is set.
CommandOption MillisecondsOption(const char* name, bool zero, uint32_t& field) {
  return OptionWithValue(name, [=, &field](const std::string& value, std::string& error) {
    const auto ms = ParseWholeNumber(value, UINT32_MAX);
    if (!ms || (!zero && *ms == 0)) {
      error = std::string("--") + name + " takes a number of milliseconds, not " + value;
      return false;
    }
    field = uint32_t(*ms);
    return true;
  });
}

}  // namespace

std::optional<ClientOptions> ParseClientOptions(const std::vector<std::string>& args,
                                                std::string& error) {
  ClientOptions options;
  // "HOST" or "HOST:PORT"; the port keeps its value when left out.
  const auto server = [&](const std::string& value, std::string& message) {
    const auto split = value.find(':') == std::string::npos
                           ? std::optional(HostAndPort{value, options.serverPort})
                           : SplitHostPort(value);
    if (!split || split->host.empty()) {
      message = "--server takes HOST or HOST:PORT, not " + value;
      return false;
    }
    options.serverHost = std::string(split->host);
    options.serverPort = split->port;
    return true;
  };
  // "ADDR" or "ADDR:PORT"; without a port the system chooses one.
  const auto bind = [&](const std::string& value, std::string& message) {
    std::optional<Ipv4Endpoint> address = ParseEndpoint(value);
    if (value.find(':') == std::string::npos) {
      if (const auto dotted = ParseDotted(value)) address = Ipv4Endpoint{*dotted, 0};
    }
    if (!address) {
      message = "--bind takes ADDR or ADDR:PORT with a dotted address, not " + value;
      return false;
    }
    options.bind = *address;
    return true;
  };
  const auto name = [&](const std::string& value, std::string& message) {
    if (value.empty() || value.size() > 31) {
      message = "--name takes 1 to 31 characters";
      return false;
    }
    options.name = value;
    return true;
  };
  const auto p2p = [&](const std::string& value, std::string& message) {
    const auto endpoint = ParseEndpoint(value);
    if (!endpoint) message = "--p2p takes IP:PORT, not " + value;
    if (endpoint) options.p2p = *endpoint;
    return endpoint.has_value();
  };
  const CommandOption optionList[] = {
      OptionFlag("help", options.help),
      OptionFlag("version", options.version),
      OptionFlag("verbose", options.verbose),
      OptionWithValue("server", server),
      OptionWithValue("bind", bind),
      OptionWithValue("name", name),
      OptionWithValue("p2p", p2p),
      MillisecondsOption("keepalive-interval", true, options.keepAliveIntervalMs),
      MillisecondsOption("timeout", false, options.timeoutMs),
  };
  std::vector<std::string> words;
  const auto word = [&](const std::string& text) { words.push_back(text); };
  if (!ReadCommandOptions(args, optionList, "unknown option ", word, error)) return std::nullopt;
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
