#include "platform/proc_net_tables.h"

#include <charconv>

#include "platform/ipv4.h"

namespace halvyn {

namespace {

constexpr uint32_t kRouteUp = 0x0001;       // RTF_UP
constexpr uint32_t kRouteGateway = 0x0002;  // RTF_GATEWAY
constexpr uint32_t kArpComplete = 0x02;     // ATF_COM

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    const size_t start = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t') ++at;
    if (at > start) fields.push_back(line.substr(start, at - start));
  }
  return fields;
}

template <typename Visit>
void ForEachLineAfterHeader(std::string_view text, Visit visit) {
  bool header = true;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (header) {
      header = false;
      continue;
    }
    visit(Fields(line));
  }
}

bool ParseHex(std::string_view text, uint32_t& value) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::vector<DefaultGateway> ParseDefaultGateways(std::string_view procNetRoute) {
  // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT.
  // Addresses are the network-order value printed as a native 32-bit hex
  // number, so parsing the hex gives the network-order value back.
  std::vector<DefaultGateway> gateways;
  ForEachLineAfterHeader(procNetRoute, [&](const std::vector<std::string_view>& fields) {
    uint32_t destination = 0, gateway = 0, flags = 0, mask = 0;
    if (fields.size() < 8 || !ParseHex(fields[1], destination) || !ParseHex(fields[2], gateway) ||
        !ParseHex(fields[3], flags) || !ParseHex(fields[7], mask))
      return;
    if (destination != 0 || mask != 0 || (flags & kRouteUp) == 0 || (flags & kRouteGateway) == 0)
      return;
    gateways.push_back({std::string(fields[0]), gateway});
  });
  return gateways;
}

std::vector<NeighbourEntry> ParseNeighbourTable(std::string_view procNetArp) {
  // IP address, HW type, Flags, HW address, Mask, Device.
  std::vector<NeighbourEntry> entries;
  ForEachLineAfterHeader(procNetArp, [&](const std::vector<std::string_view>& fields) {
    uint32_t flags = 0;
    if (fields.size() < 6 || !ParseHex(fields[2], flags)) return;
    const std::optional<uint32_t> address = ParseDotted(fields[0]);
    const std::optional<MacAddress> mac = ParseMac(fields[3]);
    if (!address || !mac) return;
    entries.push_back({*address, *mac, (flags & kArpComplete) != 0, std::string(fields[5])});
  });
  return entries;
}

}  // namespace halvyn
