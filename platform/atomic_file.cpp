#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <system_error>

namespace halvyn {

namespace {

// Distinguishes temporary names made by different calls of one process.
std::atomic<unsigned> temporaryCounter{0};

// Attempts at a free temporary name before giving up (another process would
// have to hold every one of them).
constexpr int kTemporaryNameAttempts = 100;

std::string ErrnoText(int error) {
  return std::generic_category().message(error);
}

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes all of contents, resuming after short writes and interruptions.
// Returns 0 or the errno of the failure.
int WriteAll(int fd, std::string_view contents) {
  const char* p = contents.data();
  size_t left = contents.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A regular file that accepts nothing has no room left.
    if (n == 0) return ENOSPC;
    p += n;
    left -= size_t(n);
  }
  return 0;
}

// Creates a new temporary file next to path. Returns the descriptor (or -1
// with errno set) and the name it got.
int CreateTemporary(const std::string& path, std::string* name) {
  const size_t slash = path.rfind('/');
  const std::string prefix = Folder(path) + "/." +
                             path.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp" +
                             std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    *name = prefix + std::to_string(temporaryCounter.fetch_add(1, std::memory_order_relaxed));
    const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The file a chain of symbolic links at path ends in (path itself when it is
// no link); a relative link is read from the folder of the link. Stops after
// as many links as the kernel follows, leaving the open to report ELOOP.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    if (n <= 0 || size_t(n) >= sizeof target) return path;
    const std::string link(target, size_t(n));
    path = link.front() == '/' || path.find('/') == std::string::npos ? link
                                                                      : Folder(path) + "/" + link;
  }
  return path;
}

// Overwrites the open file with contents and cuts it there. Returns 0 or the errno.
int RewriteInPlace(int fd, std::string_view contents) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return errno;
  if (const int code = WriteAll(fd, contents)) return code;
  if (::ftruncate(fd, off_t(contents.size())) != 0) return errno;
  if (::fsync(fd) != 0) return errno;
  return 0;
}

// Makes the rename itself durable. The file has already been replaced when
// this runs, so a failure here is not reported: the new contents are in place.
void SyncFolder(const std::string& path) {
  const int fd = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

}  // namespace

bool ReplaceFileContents(const std::string& path, std::string_view contents, std::string* error) {
  auto fail = [&](int code) {
    if (error != nullptr) *error = "cannot write " + path + ": " + ErrnoText(code);
    return false;
  };

  const std::string target = FollowLinks(path);
  // Whether this process may write the file, as the kernel would decide for
  // an open (permission bits, ACLs, the immutable flag, a read-only mount),
  // without opening it: a close after an open for writing counts as a write
  // to anyone watching the file.
  const bool writableFile = ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0;
  if (!writableFile && errno != ENOENT) return fail(errno);

  std::string temporary;
  const int fd = CreateTemporary(target, &temporary);
  if (fd < 0) {
    const int refused = errno;
    if (!writableFile || (refused != EACCES && refused != EPERM && refused != EROFS))
      return fail(refused);
    const int existing = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (existing < 0) return fail(errno);
    int code = RewriteInPlace(existing, contents);
    if (::close(existing) != 0 && code == 0) code = errno;
    return code == 0 ? true : fail(code);
  }

  int code = WriteAll(fd, contents);
  struct stat old {};
  if (code == 0 && ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    if (::fchmod(fd, old.st_mode & 07777) != 0) code = errno;
  }
  if (code == 0 && ::fsync(fd) != 0) code = errno;
  if (::close(fd) != 0 && code == 0) code = errno;
  if (code == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) code = errno;
  if (code != 0) {
    ::unlink(temporary.c_str());
    return fail(code);
  }
  SyncFolder(target);
  return true;
}

}  // namespace halvyn
