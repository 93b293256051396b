#include "platform/network_adapters.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
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

  std::vector<NetworkAdapter> adapters;
  for (auto& [name, adapter] : byName) {
    adapter.wireless = IsWireless(name);
    adapters.push_back(std::move(adapter));
  }
  std::sort(adapters.begin(), adapters.end(),
            [](const NetworkAdapter& a, const NetworkAdapter& b) { return a.index < b.index; });
  return adapters;
}

}  // namespace halvyn
