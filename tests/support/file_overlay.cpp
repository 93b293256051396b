#include "tests/support/file_overlay.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace halvyn::testing {

namespace {

// Once per test process: a mount namespace of its own, with propagation to
// and from the machine's namespace cut before anything is mounted.
bool EnterPrivateMounts(std::string& error) {
  static const std::string failure = [] {
    if (unshare(CLONE_NEWNS) != 0) return std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("making mounts private: ") + strerror(errno);
    return std::string();
  }();
  error = failure;
  return failure.empty();
}

}  // namespace

FileOverlay::FileOverlay(std::filesystem::path target, std::string_view contents)
    : target_(std::move(target)) {
  if (!EnterPrivateMounts(error_)) return;
  char pattern[] = "/tmp/halvyn-overlay-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) {
    error_ = std::string("mkstemp: ") + strerror(errno);
    return;
  }
  close(fd);
  source_ = pattern;
  {
    std::ofstream out(source_, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out.flush()) {
      error_ = "cannot write " + source_.string();
      return;
    }
  }
  std::filesystem::permissions(source_, std::filesystem::perms(0644));
  if (mount(source_.c_str(), target_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    error_ = "bind-mounting over " + target_.string() + ": " + strerror(errno);
    return;
  }
  active_ = true;
}

FileOverlay::~FileOverlay() {
  if (active_) umount2(target_.c_str(), MNT_DETACH);
  if (!source_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(source_, ignored);
  }
}

}  // namespace halvyn::testing
