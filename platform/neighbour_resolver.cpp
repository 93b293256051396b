#include "platform/neighbour_resolver.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/proc_net_tables.h"
#include "platform/tick_count.h"

namespace halvyn {

namespace {

// How often the table is looked at while an answer is awaited.
constexpr uint32_t kPollIntervalMs = 10;

std::optional<MacAddress> LookUp(uint32_t address) {
  std::ifstream file("/proc/net/arp");
  std::ostringstream text;
  text << file.rdbuf();
  for (const NeighbourEntry& entry : ParseNeighbourTable(text.str()))
    if (entry.address == address && entry.complete) return entry.mac;
  return std::nullopt;
}

}  // namespace

int RequestNeighbourResolution(uint32_t address, int interfaceIndex) {
  // RTM_NEWNEIGH with NTF_USE makes the kernel create the entry (state none)
  // and start resolving it, as if a packet were waiting for it; nothing but
  // the ARP request itself is sent.
  struct {
    nlmsghdr header;
    ndmsg neighbour;
    char attributes[RTA_SPACE(sizeof(uint32_t))];
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg)) + RTA_SPACE(sizeof(uint32_t));
  request.header.nlmsg_type = RTM_NEWNEIGH;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE;
  request.header.nlmsg_seq = 1;
  request.neighbour.ndm_family = AF_INET;
  request.neighbour.ndm_ifindex = interfaceIndex;
  request.neighbour.ndm_state = NUD_NONE;
  request.neighbour.ndm_flags = NTF_USE;
  auto* destination = reinterpret_cast<rtattr*>(request.attributes);
  destination->rta_type = NDA_DST;
  destination->rta_len = RTA_LENGTH(sizeof(uint32_t));
  std::memcpy(RTA_DATA(destination), &address, sizeof address);

  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return errno;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  int result = 0;
  if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) < 0) {
    result = errno;
  } else {
    // The acknowledgement is an NLMSG_ERROR whose error is 0 on success.
    alignas(nlmsghdr) char answer[512];
    const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
    if (n < 0) {
      result = errno;
    } else {
      const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
      if (NLMSG_OK(header, size_t(n)) && header->nlmsg_type == NLMSG_ERROR)
        result = -static_cast<const nlmsgerr*>(NLMSG_DATA(header))->error;
    }
  }
  ::close(fd);
  return result;
}

std::optional<MacAddress> ResolveNeighbourMac(uint32_t address, int interfaceIndex, int timeoutMs) {
  if (std::optional<MacAddress> known = LookUp(address)) return known;
  if (interfaceIndex <= 0 || RequestNeighbourResolution(address, interfaceIndex) != 0)
    return std::nullopt;
  const uint32_t start = TickCount();
  while (TickCount() - start < uint32_t(timeoutMs)) {
    SleepMilliseconds(kPollIntervalMs);
    if (std::optional<MacAddress> answered = LookUp(address)) return answered;
  }
  return std::nullopt;
}

}  // namespace halvyn
