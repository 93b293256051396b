// main() for tests that use fixed ports: each test process first moves into a
// network namespace of its own with only loopback up (multicast routed to
// it), so fixed ports never
// collide between tests running in parallel and nothing leaves the machine.
// Without the rights to do that, tests that need it skip themselves.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "tests/support/private_network.h"

namespace halvyn::testing {

bool privateNetwork = false;

namespace {

bool EnterPrivateNetwork() {
  if (unshare(CLONE_NEWNET) != 0) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  // Multicast on loopback, so the device discovery group can be joined.
  return up && std::system("ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo") == 0;
}

}  // namespace
}  // namespace halvyn::testing

int main(int argc, char** argv) {
  halvyn::testing::privateNetwork = halvyn::testing::EnterPrivateNetwork();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
