#include "tools/client/client_command.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace halvyn {

namespace {

struct Arity {
  std::string_view name;
  size_t fewest;
  size_t most;
};

constexpr size_t kAny = std::numeric_limits<size_t>::max();
// "check" runs alone, from the command line; it is listed so its word is known.
constexpr Arity kArities[] = {
    {"login", 0, 0},   {"logout", 0, 0}, {"keepalive", 0, 2}, {"info", 2, 2}, {"connect", 1, 1},
    {"route", 6, 7},   {"probe", 1, 1},  {"release", 1, 1},   {"wait", 1, 1}, {"expect", 1, 2},
    {"echo", 0, kAny}, {"quit", 0, 0},   {"check", 0, 0},
};

// The longest pause a script may ask for, so a typo cannot hang a test for days.
constexpr double kLongestWaitSeconds = 3600;
constexpr uint32_t kDefaultExpectMs = 3000;

const Arity* FindArity(std::string_view word) {
  for (const Arity& arity : kArities)
    if (arity.name == word) return &arity;
  return nullptr;
}

std::vector<std::string_view> SplitWords(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

template <typename T>
std::optional<T> ParseUnsigned(std::string_view text, T most, int base = 10) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end || value > most) return std::nullopt;
  return T(value);
}

std::optional<uint16_t> ParsePort(std::string_view text) {
  return ParseUnsigned<uint16_t>(text, 65535);
}

// Decimal, or hexadecimal after "0x".
std::optional<uint16_t> ParseParameter(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X"))
    return ParseUnsigned<uint16_t>(text.substr(2), 65535, 16);
  return ParsePort(text);
}

std::optional<uint32_t> ParseSeconds(std::string_view text) {
  double seconds = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, seconds);
  if (text.empty() || error != std::errc() || stop != end || !(seconds >= 0) ||
      seconds > kLongestWaitSeconds)
    return std::nullopt;
  return uint32_t(std::llround(seconds * 1000));
}

// "IP:PORT", or "-" for an address taken from the last list (returned as none).
bool ParseRouteEndpoint(std::string_view text, std::optional<Ipv4Endpoint>& endpoint) {
  if (text == "-") {
    endpoint.reset();
    return true;
  }
  endpoint = ParseEndpoint(text);
  return endpoint.has_value();
}

std::optional<ClientCommand> Fail(std::string& error, std::string text) {
  error = std::move(text);
  return std::nullopt;
}

}  // namespace

std::optional<ClientCommand> ParseClientCommand(std::string_view line, std::string& error) {
  const std::vector<std::string_view> words = SplitWords(line);
  ClientCommand command;
  if (words.empty() || words[0].starts_with('#')) return command;

  const std::string_view name = words[0];
  const Arity* arity = FindArity(name);
  if (!arity || name == "check")
    return Fail(error, name == "check" ? "check runs alone: halvyn-client --server HOST:PORT check"
                                       : "unknown command: " + std::string(name));
  const size_t count = words.size() - 1;
  if (count < arity->fewest || count > arity->most)
    return Fail(error, "wrong number of arguments for " + std::string(name));
  const auto arg = [&](size_t i) { return words[i + 1]; };

  using Kind = ClientCommand::Kind;
  if (name == "login") {
    command.kind = Kind::kLogin;
  } else if (name == "logout") {
    command.kind = Kind::kLogout;
  } else if (name == "quit") {
    command.kind = Kind::kQuit;
  } else if (name == "keepalive" || name == "info") {
    command.kind = name == "info" ? Kind::kInfo : Kind::kKeepAlive;
    if (count == 1) return Fail(error, "keepalive takes no argument or P2P_IP P2P_PORT");
    if (count == 2) {
      const auto address = ParseDotted(arg(0));
      const auto port = ParsePort(arg(1));
      if (!address || !port) return Fail(error, "bad p2p address: " + std::string(line));
      command.p2p = Ipv4Endpoint{*address, *port};
    }
  } else if (name == "connect") {
    command.kind = Kind::kConnect;
    command.text = arg(0);
  } else if (name == "route") {
    command.kind = Kind::kRoute;
    RouteArguments& route = command.route;
    route.txName = arg(0);
    route.rxName = arg(3);
    const auto txCount = ParseUnsigned<uint8_t>(arg(2), 255);
    const auto rxCount = ParseUnsigned<uint8_t>(arg(5), 255);
    if (!ParseRouteEndpoint(arg(1), route.tx) || !ParseRouteEndpoint(arg(4), route.rx))
      return Fail(error, "bad route endpoint (IP:PORT or -): " + std::string(line));
    if (!txCount || !rxCount) return Fail(error, "bad channel count: " + std::string(line));
    route.txChanCount = *txCount;
    route.rxChanCount = *rxCount;
    if (count == 7) {
      const auto parameter = ParseParameter(arg(6));
      if (!parameter) return Fail(error, "bad tx_param: " + std::string(arg(6)));
      route.txParam = *parameter;
    }
  } else if (name == "probe" || name == "release") {
    command.kind = name == "probe" ? Kind::kProbe : Kind::kRelease;
    const auto port = ParsePort(arg(0));
    if (!port) return Fail(error, "bad slot port: " + std::string(arg(0)));
    command.port = *port;
  } else if (name == "wait") {
    command.kind = Kind::kWait;
    const auto ms = ParseSeconds(arg(0));
    if (!ms) return Fail(error, "bad number of seconds (0 to 3600): " + std::string(arg(0)));
    command.milliseconds = *ms;
  } else if (name == "expect") {
    command.kind = Kind::kExpect;
    if (arg(0).size() != 1) return Fail(error, "expect takes one letter: " + std::string(arg(0)));
    command.text = arg(0);
    command.milliseconds = kDefaultExpectMs;
    if (count == 2) {
      const auto ms = ParseSeconds(arg(1));
      if (!ms) return Fail(error, "bad number of seconds (0 to 3600): " + std::string(arg(1)));
      command.milliseconds = *ms;
    }
  } else if (name == "echo") {
    command.kind = Kind::kEcho;
    for (size_t i = 0; i < count; ++i) {
      if (i > 0) command.text += ' ';
      command.text += arg(i);
    }
  }
  return command;
}

std::vector<std::string> GroupCommandWords(const std::vector<std::string>& words) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < words.size()) {
    std::string line = words[i];
    const Arity* arity = FindArity(words[i]);
    ++i;
    size_t taken = 0;
    while (arity && i < words.size() && taken < arity->most &&
           (taken < arity->fewest || !FindArity(words[i]))) {
      line += ' ';
      line += words[i];
      ++i;
      ++taken;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace halvyn
