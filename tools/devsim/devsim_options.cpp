#include "tools/devsim/devsim_options.h"

#include "platform/command_options.h"
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

enum Option : size_t {
  kHelp,
  kNoAnnounce,
  kQuiet,
  kId,
  kName,
  kMac,
  kFpgaVersion,
  kByte18,
  kByte19,
  kIntervalMs,
  kAnnounceTo,
  kListen,
  kInterface,
  kDumpFile,
};

// In the order of Option.
constexpr CommandOption kOptions[] = {
    {"help"},
    {"no-announce"},
    {"quiet"},
    {"id", true},
    {"name", true},
    {"mac", true},
    {"fpga-version", true},
    {"byte18", true},
    {"byte19", true},
    {"interval-ms", true},
    {"announce-to", true},
    {"listen", true},
    {"interface", true},
    {"dump-file", true},
};

// One option; false when its value is wrong. macGiven notes --mac.
bool TakeOption(DevsimOptions& options, bool& macGiven, size_t option, const std::string& value) {
  DeviceAnnouncementFields& announcement = options.announcement;
  switch (option) {
    case kHelp:
      options.help = true;
      return true;
    case kNoAnnounce:
      options.announce = false;
      return true;
    case kQuiet:
      options.quiet = true;
      return true;
    case kId:
      announcement.deviceId = value;
      return true;
    case kName:
      announcement.deviceName = value;
      return true;
    case kDumpFile:
      options.dumpFile = value;
      return true;
    case kMac: {
      const std::optional<MacAddress> mac = ParseMac(value);
      if (mac) announcement.mac = *mac;
      macGiven = macGiven || mac;
      return mac.has_value();
    }
    case kFpgaVersion: {
      const auto number = ParseWholeNumber("0x" + value, 0xFFFF, true);
      if (value.size() == 4 && number) announcement.fpgaVersion = uint16_t(*number);
      return value.size() == 4 && number;
    }
    case kByte18:
    case kByte19: {
      const auto number = ParseWholeNumber(value, 255, true);
      if (number)
        (option == kByte18 ? announcement.byte18 : announcement.byte19) = uint8_t(*number);
      return number.has_value();
    }
    case kIntervalMs: {
      const auto number = ParseWholeNumber(value, 3600000, true);
      if (number && *number != 0) options.intervalMs = uint32_t(*number);
      return number && *number != 0;
    }
    case kAnnounceTo:
    case kListen: {
      const std::optional<Ipv4Endpoint> endpoint = ParseEndpoint(value);
      if (endpoint) (option == kListen ? options.listen : options.announceTo) = *endpoint;
      return endpoint.has_value();
    }
    case kInterface: {
      const std::optional<uint32_t> address = ParseDotted(value);
      if (address) options.sourceAddress = *address;
      return address.has_value();
    }
  }
  return false;
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
  const CommandOptionHandlers handlers{
      [&](size_t option, const std::string& value, std::string& message) {
        if (TakeOption(options, macGiven, option, value)) return true;
        message = std::string("invalid value for --") + kOptions[option].name + ": " + value;
        return false;
      },
      nullptr};
  if (!ReadCommandOptions(arguments, kOptions, "unknown option ", handlers, error))
    return std::nullopt;
  if (!macGiven) options.announcement.mac = DefaultDevsimMac(options.announcement.deviceId);
  return options;
}

}  // namespace halvyn::devsim
