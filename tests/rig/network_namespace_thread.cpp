#include "tests/rig/network_namespace_thread.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <thread>

namespace halvyn::testing::rig {

bool RunInNetworkNamespace(const std::string& name, const std::function<void()>& work) {
  bool entered = false;
  // A thread of its own: setns changes only the calling thread's namespace,
  // and this one ends right after the work, so the test's threads never move.
  std::thread worker([&] {
    const std::string path = "/run/netns/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    entered = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    if (entered) work();
  });
  worker.join();
  return entered;
}

}  // namespace halvyn::testing::rig
