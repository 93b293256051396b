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

// An option whose value take checks and keeps; a value it refuses is named in
// the error.
CommandOption Checked(const char* name, std::function<bool(const std::string&)> take) {
  return OptionWithValue(name, [=](const std::string& value, std::string& error) {
    if (take(value)) return true;
    error = std::string("invalid value for --") + name + ": " + value;
    return false;
  });
}

// Any text into field.
CommandOption Text(const char* name, std::string& field) {
  return Checked(name, [&field](const std::string& value) {
    field = value;
    return true;
  });
}

// A number from low to most, decimal or "0x" hexadecimal, into field.
template <typename Field>
CommandOption Number(const char* name, uint64_t low, uint64_t most, Field& field) {
  return Checked(name, [=, &field](const std::string& value) {
    const auto number = ParseWholeNumber(value, most, true);
    if (number && *number >= low) field = Field(*number);
    return number && *number >= low;
  });
}

// "A.B.C.D:PORT" into field.
CommandOption Endpoint(const char* name, Ipv4Endpoint& field) {
  return Checked(name, [&field](const std::string& value) {
    const std::optional<Ipv4Endpoint> endpoint = ParseEndpoint(value);
    if (endpoint) field = *endpoint;
    return endpoint.has_value();
  });
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
  DeviceAnnouncementFields& announcement = options.announcement;
  bool macGiven = false;
  const auto mac = [&](const std::string& value) {
    const std::optional<MacAddress> parsed = ParseMac(value);
    if (parsed) announcement.mac = *parsed;
    macGiven = macGiven || parsed;
    return parsed.has_value();
  };
  // Four hex digits, byte 16 then byte 17.
  const auto fpgaVersion = [&](const std::string& value) {
    const auto number = ParseWholeNumber("0x" + value, 0xFFFF, true);
    if (value.size() == 4 && number) announcement.fpgaVersion = uint16_t(*number);
    return value.size() == 4 && number;
  };
  const auto sourceAddress = [&](const std::string& value) {
    const std::optional<uint32_t> address = ParseDotted(value);
    if (address) options.sourceAddress = *address;
    return address.has_value();
  };
  const CommandOption optionList[] = {
      OptionFlag("help", options.help),
      OptionFlag("no-announce", options.announce, false),
      OptionFlag("quiet", options.quiet),
      Text("id", announcement.deviceId),
      Text("name", announcement.deviceName),
      Checked("mac", mac),
      Checked("fpga-version", fpgaVersion),
      Number("byte18", 0, 255, announcement.byte18),
      Number("byte19", 0, 255, announcement.byte19),
      Number("interval-ms", 1, 3600000, options.intervalMs),
      Endpoint("announce-to", options.announceTo),
      Endpoint("listen", options.listen),
      Checked("interface", sourceAddress),
      Text("dump-file", options.dumpFile),
  };
  if (!ReadCommandOptions(arguments, optionList, "unknown option ", nullptr, error))
    return std::nullopt;
  if (!macGiven) announcement.mac = DefaultDevsimMac(announcement.deviceId);
  return options;
}

}  // namespace halvyn::devsim
