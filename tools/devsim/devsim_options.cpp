#include "tools/devsim/devsim_options.h"

#include <charconv>

#include "platform/mac_address.h"

namespace halvyn::devsim {

const char kDevsimUsage[] =
    "Usage: halvyn-devsim [options]\n"
    "A simulated LAN audio device: announces itself to the discovery group and\n"
    "keeps an image of its 16-bit registers from every datagram on its register port.\n"
    "\n"
    "  --id TEXT             device ID (at most 18 bytes)        [DEVSIM-0001]\n"
    "  --name TEXT           device name (at most 48 bytes)      [Halvyn devsim]\n"
    "  --mac XX:XX:XX:XX:XX:XX  MAC in the announcement\n"
    "                        [02:48:56 and three bytes derived from --id, so devices\n"
    "                         with different IDs differ]\n"
    "  --fpga-version HHHH   four hex digits, byte 16 then 17     [0123]\n"
    "  --byte18 N, --byte19 N  announcement bytes 18 and 19 (0-255, or 0xNN) [0]\n"
    "  --interval-ms N       milliseconds between announcements  [1000]\n"
    "  --no-announce         do not announce\n"
    "  --announce-to A.B.C.D:PORT  where announcements go        [224.0.0.222:9887]\n"
    "  --interface A.B.C.D   send announcements from this local address (and its interface)\n"
    "  --listen A.B.C.D:PORT  register port                      [0.0.0.0:4440]\n"
    "  --dump-file PATH      rewrite PATH with the register image after every datagram\n"
    "                        (first line \"datagrams N\", then \"0xRRRR 0xVVVV\" per register)\n"
    "  --quiet               no line per datagram\n"
    "  --help                this text\n"
    "\n"
    "Prints one line per datagram received: rx SOURCE KIND register=0xRRRR length=N data=HEX.\n"
    "SIGUSR1 prints the register image; SIGTERM and SIGINT end it.\n";

namespace {

bool ParseNumber(const std::string& text, uint32_t max, uint32_t& value) {
  int base = 10;
  std::string_view digits = text;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty()) return false;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  return error == std::errc() && end == digits.data() + digits.size() && value <= max;
}

std::optional<Ipv4Endpoint> ParseEndpoint(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::optional<uint32_t> address = ParseDotted(std::string_view(text).substr(0, colon));
  uint32_t port = 0;
  if (!address || !ParseNumber(text.substr(colon + 1), 65535, port)) return std::nullopt;
  return Ipv4Endpoint{*address, uint16_t(port)};
}

}  // namespace

MacAddress DefaultDevsimMac(std::string_view deviceId) {
  // FNV-1a: cheap, stable across runs and builds, and spreads similar IDs apart.
  uint32_t hash = 2166136261u;
  for (const char c : deviceId) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return {0x02, 0x48, 0x56, uint8_t(hash >> 16), uint8_t(hash >> 8), uint8_t(hash)};
}

std::optional<DevsimOptions> ParseDevsimOptions(const std::vector<std::string>& arguments,
                                                std::string& error) {
  DevsimOptions options;
  bool macGiven = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= arguments.size()) {
        error = option + " needs a value";
        return false;
      }
      out = arguments[++i];
      return true;
    };
    auto invalid = [&](const std::string& text) {
      error = "invalid value for " + option + ": " + text;
      return std::nullopt;
    };
    std::string text;
    uint32_t number = 0;
    if (option == "--help" || option == "-h") {
      options.help = true;
    } else if (option == "--no-announce") {
      options.announce = false;
    } else if (option == "--quiet") {
      options.quiet = true;
    } else if (option == "--id") {
      if (!value(options.announcement.deviceId)) return std::nullopt;
    } else if (option == "--name") {
      if (!value(options.announcement.deviceName)) return std::nullopt;
    } else if (option == "--mac") {
      if (!value(text)) return std::nullopt;
      const std::optional<MacAddress> mac = ParseMac(text);
      if (!mac) return invalid(text);
      options.announcement.mac = *mac;
      macGiven = true;
    } else if (option == "--fpga-version") {
      if (!value(text)) return std::nullopt;
      if (text.size() != 4 || !ParseNumber("0x" + text, 0xFFFF, number)) return invalid(text);
      options.announcement.fpgaVersion = uint16_t(number);
    } else if (option == "--byte18" || option == "--byte19") {
      if (!value(text)) return std::nullopt;
      if (!ParseNumber(text, 255, number)) return invalid(text);
      (option == "--byte18" ? options.announcement.byte18 : options.announcement.byte19) =
          uint8_t(number);
    } else if (option == "--interval-ms") {
      if (!value(text)) return std::nullopt;
      if (!ParseNumber(text, 3600000, number) || number == 0) return invalid(text);
      options.intervalMs = number;
    } else if (option == "--announce-to" || option == "--listen") {
      if (!value(text)) return std::nullopt;
      const std::optional<Ipv4Endpoint> endpoint = ParseEndpoint(text);
      if (!endpoint) return invalid(text);
      (option == "--listen" ? options.listen : options.announceTo) = *endpoint;
    } else if (option == "--interface") {
      if (!value(text)) return std::nullopt;
      const std::optional<uint32_t> address = ParseDotted(text);
      if (!address) return invalid(text);
      options.sourceAddress = *address;
    } else if (option == "--dump-file") {
      if (!value(options.dumpFile)) return std::nullopt;
    } else {
      error = "unknown option " + option;
      return std::nullopt;
    }
  }
  if (!macGiven) options.announcement.mac = DefaultDevsimMac(options.announcement.deviceId);
  return options;
}

}  // namespace halvyn::devsim
