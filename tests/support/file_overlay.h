// Stand-in system files for a test: a temporary file bind-mounted over a path
// such as /etc/hosts, seen by the calling thread and by every process it
// starts afterwards (halvyn, the STUN server).
//
// The first overlay moves the calling thread into a mount namespace of its own
// whose mounts are private, so no overlay is ever seen by the rest of the
// machine, and all of them vanish with the test process even if it dies.
// Needs root, like the private network; without it active() is false.
// Test thread only.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace halvyn::testing {

class FileOverlay {
 public:
  // Mounts a file holding contents over target, which must exist.
  FileOverlay(std::filesystem::path target, std::string_view contents);
  ~FileOverlay();  // unmounts, so target shows its own contents again
  FileOverlay(const FileOverlay&) = delete;
  FileOverlay& operator=(const FileOverlay&) = delete;

  bool active() const { return active_; }
  // Why the overlay is not active, for the test's message.
  const std::string& error() const { return error_; }

 private:
  std::filesystem::path target_;
  std::filesystem::path source_;
  bool active_ = false;
  std::string error_;
};

}  // namespace halvyn::testing
