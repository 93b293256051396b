// Counts the times a file in a folder is written or replaced, with inotify:
// each close after writing and each rename onto the name counts once, so a
// direct rewrite and a write-then-rename replacement both count one.
// Events that happened before the watch began are not seen. Test thread only.
#pragma once

#include <filesystem>
#include <string>

namespace halvyn::testing {

class FileReplacements {
 public:
  FileReplacements(const std::filesystem::path& folder, std::string name);
  ~FileReplacements();
  FileReplacements(const FileReplacements&) = delete;
  FileReplacements& operator=(const FileReplacements&) = delete;

  bool watching() const { return wd_ >= 0; }
  // The count so far: every event already queued is read, none waited for.
  int Count();

 private:
  std::string name_;
  int fd_ = -1;
  int wd_ = -1;
  int count_ = 0;
};

}  // namespace halvyn::testing
