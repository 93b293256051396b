#include "tests/stun/file_replacements.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

namespace halvyn::testing {

FileReplacements::FileReplacements(const std::filesystem::path& folder, std::string name)
    : name_(std::move(name)) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ >= 0) wd_ = inotify_add_watch(fd_, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
}

FileReplacements::~FileReplacements() {
  if (fd_ >= 0) close(fd_);
}

int FileReplacements::Count() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) return count_;
    for (ssize_t offset = 0; offset < got;) {
      inotify_event event;
      std::memcpy(&event, buffer + offset, sizeof event);
      const char* name = buffer + offset + sizeof event;
      if (event.len > 0 && name_ == name) ++count_;
      offset += ssize_t(sizeof event + event.len);
    }
  }
}

}  // namespace halvyn::testing
