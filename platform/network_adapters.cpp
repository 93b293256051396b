#include "platform/network_adapters.h"

#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/if_packet.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/proc_net_tables.h"

namespace halvyn {

namespace {

std::string ReadWholeFile(const char* path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool PathExists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

bool IsWireless(const std::string& name) {
  const std::string base = "/sys/class/net/" + name;
  return PathExists(base + "/wireless") || PathExists(base + "/phy80211");
}

// The driver's name as ethtool reports it ("veth", "bridge", "e1000e", ...);
// empty when the link has none or the question fails.
std::string DriverName(int probe, const std::string& name) {
  ethtool_drvinfo info{};
  info.cmd = ETHTOOL_GDRVINFO;
  ifreq request{};
  if (name.size() >= sizeof request.ifr_name) return {};
  std::memcpy(request.ifr_name, name.data(), name.size());
  request.ifr_data = reinterpret_cast<char*>(&info);
  if (::ioctl(probe, SIOCETHTOOL, &request) != 0) return {};
  return std::string(info.driver, strnlen(info.driver, sizeof info.driver));
}

bool IsBridgeOrVeth(int probe, const std::string& name) {
  if (PathExists("/sys/class/net/" + name + "/bridge")) return true;
  const std::string driver = DriverName(probe, name);
  return driver == "bridge" || driver == "veth";
}

// An address's label may be "eth0:1"; the adapter is the part before the colon.
std::string AdapterName(const char* label) {
  std::string name(label);
  const size_t colon = name.find(':');
  if (colon != std::string::npos) name.resize(colon);
  return name;
}

}  // namespace

std::vector<NetworkAdapter> ReadNetworkAdapters() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return {};
  std::map<std::string, NetworkAdapter> byName;
  // Links first: every adapter has one AF_PACKET entry.
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    NetworkAdapter& adapter = byName[entry->ifa_name];
    adapter.name = entry->ifa_name;
    adapter.index = link->sll_ifindex;
    adapter.hardwareType = link->sll_hatype;
    adapter.up = (entry->ifa_flags & IFF_UP) != 0;
    adapter.carrier = (entry->ifa_flags & IFF_RUNNING) != 0;
    if (link->sll_halen == adapter.mac.size())
      std::copy_n(link->sll_addr, adapter.mac.size(), adapter.mac.begin());
  }
  // The kernel lists an adapter's primary address before its secondaries.
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    auto adapter = byName.find(AdapterName(entry->ifa_name));
    if (adapter == byName.end() || adapter->second.firstAddress != 0) continue;
    adapter->second.firstAddress =
        reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
  }
  ::freeifaddrs(list);

  for (const DefaultGateway& route : ParseDefaultGateways(ReadWholeFile("/proc/net/route"))) {
    auto adapter = byName.find(route.interfaceName);
    if (adapter != byName.end() && adapter->second.defaultGateway == 0)
      adapter->second.defaultGateway = route.gateway;
  }

  // Any socket serves for ethtool's questions; without one no link reads as virtual.
  const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  std::vector<NetworkAdapter> adapters;
  for (auto& [name, adapter] : byName) {
    adapter.wireless = IsWireless(name);
    adapter.bridgeOrVeth = probe >= 0 && IsBridgeOrVeth(probe, name);
    adapters.push_back(std::move(adapter));
  }
  if (probe >= 0) ::close(probe);
  std::sort(adapters.begin(), adapters.end(),
            [](const NetworkAdapter& a, const NetworkAdapter& b) { return a.index < b.index; });
  return adapters;
}

}  // namespace halvyn
