#include "fuzz/fuzz_private_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace halvyn::fuzzing {

bool EnterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) return false;
  // Loopback up, so a socket there behaves as usual; binding the any-address
  // works in the new namespace either way.
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd >= 0) {
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFFLAGS, &request) == 0) {
      request.ifr_flags |= IFF_UP;
      ioctl(fd, SIOCSIFFLAGS, &request);
    }
    close(fd);
  }
  return true;
}

}  // namespace halvyn::fuzzing
