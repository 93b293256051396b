#include "platform/udp_socket_drops.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <string>

namespace halvyn {

uint64_t ParseUdpDrops(std::string_view procNetUdp, uint16_t port) {
  // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid
  // timeout inode ref pointer drops; local_address is HEXADDR:HEXPORT.
  uint64_t drops = 0;
  std::istringstream lines{std::string(procNetUdp)};
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, local, field, last;
    if (!(fields >> slot >> local)) continue;
    while (fields >> field) last = field;
    const size_t colon = local.find(':');
    unsigned localPort = 0;
    uint64_t count = 0;
    if (colon == std::string::npos || last.empty()) continue;
    const char* portText = local.data() + colon + 1;
    const char* portEnd = local.data() + local.size();
    if (std::from_chars(portText, portEnd, localPort, 16).ptr != portEnd) continue;
    if (std::from_chars(last.data(), last.data() + last.size(), count).ptr !=
        last.data() + last.size())
      continue;
    if (localPort == port) drops += count;
  }
  return drops;
}

uint64_t UdpSocketDrops(uint16_t port) {
  std::ifstream file("/proc/net/udp");
  std::stringstream text;
  text << file.rdbuf();
  return ParseUdpDrops(text.str(), port);
}

}  // namespace halvyn
