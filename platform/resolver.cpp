#include "platform/resolver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

namespace halvyn {

std::optional<std::vector<uint32_t>> ResolveIpv4Addresses(std::string_view hostName) {
  // The resolver reads a C string: an embedded NUL would silently resolve a
  // shorter, different name.
  if (hostName.find('\0') != std::string_view::npos) return std::nullopt;
  const std::string name(hostName);

  addrinfo hints{};
  hints.ai_family = AF_INET;
  // One socket type, so each address is listed once per time the resolver has it.
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_protocol = IPPROTO_UDP;
  addrinfo* list = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return std::nullopt;

  std::vector<uint32_t> addresses;
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr ||
        entry->ai_addrlen < sizeof(sockaddr_in)) {
      continue;
    }
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    addresses.push_back(address->sin_addr.s_addr);
  }
  ::freeaddrinfo(list);
  if (addresses.empty()) return std::nullopt;
  return addresses;
}

}  // namespace halvyn
