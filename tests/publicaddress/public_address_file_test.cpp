#include "publicaddress/public_address_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

namespace halvyn {
namespace {

namespace fs = std::filesystem;

class PublicAddressFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("halvyn-publicaddress-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(fs::create_directory(folder_));
    path_ = (folder_ / "server.txt").string();
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Write(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::set<std::string> FolderEntries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  PublicAddressFileContents Load() const {
    auto contents = LoadPublicAddressFile(path_);
    EXPECT_TRUE(contents);
    return contents.value_or(PublicAddressFileContents{"<no file>", 12345});
  }

  fs::path folder_;
  std::string path_;
};

TEST_F(PublicAddressFileTest, SaveWritesExactlyTwoCrLfLinesAndLoadsBack) {
  Write("an older and much longer file\r\n1\r\nthird line\r\n");
  std::string error;
  ASSERT_TRUE(SavePublicAddressFile(path_, "203.0.113.5", 7002, &error)) << error;
  EXPECT_EQ(Read(), "203.0.113.5\r\n7002\r\n");
  const PublicAddressFileContents loaded = Load();
  EXPECT_EQ(loaded.publicAddressText, "203.0.113.5");
  EXPECT_EQ(loaded.relayPort, 7002u);
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"server.txt"});
}

TEST_F(PublicAddressFileTest, PortsAboveTheSignedRangeAreWrittenNegativeAndReadBack) {
  std::string error;
  ASSERT_TRUE(SavePublicAddressFile(path_, "198.51.100.1", 4294967295u, &error)) << error;
  EXPECT_EQ(Read(), "198.51.100.1\r\n-1\r\n");
  EXPECT_EQ(Load().relayPort, 4294967295u);

  ASSERT_TRUE(SavePublicAddressFile(path_, "198.51.100.1", 2147483648u, &error)) << error;
  EXPECT_EQ(Read(), "198.51.100.1\r\n-2147483648\r\n");
  EXPECT_EQ(Load().relayPort, 2147483648u);
}

TEST_F(PublicAddressFileTest, LineEndings) {
  Write("203.0.113.5\n7002\n");
  EXPECT_EQ(Load().publicAddressText, "203.0.113.5");
  EXPECT_EQ(Load().relayPort, 7002u);

  Write("203.0.113.5\r\n7002");  // last line ended by the end of the file
  EXPECT_EQ(Load().publicAddressText, "203.0.113.5");
  EXPECT_EQ(Load().relayPort, 7002u);

  Write("203.0.113.5\r");  // only CR LF or LF end a line
  EXPECT_EQ(Load().publicAddressText, "203.0.113.5\r");

  Write("a\rb\r\n9\r\nignored\r\n");  // a CR not followed by LF belongs to the line
  EXPECT_EQ(Load().publicAddressText, "a\rb");
  EXPECT_EQ(Load().relayPort, 9u);
}

TEST_F(PublicAddressFileTest, MissingLinesGiveEmptyAddressAndPortZero) {
  Write("");
  EXPECT_EQ(Load().publicAddressText, "");
  EXPECT_EQ(Load().relayPort, 0u);

  Write("203.0.113.5\r\n");
  EXPECT_EQ(Load().publicAddressText, "203.0.113.5");
  EXPECT_EQ(Load().relayPort, 0u);

  Write("203.0.113.5");
  EXPECT_EQ(Load().publicAddressText, "203.0.113.5");
  EXPECT_EQ(Load().relayPort, 0u);
}

TEST_F(PublicAddressFileTest, PortLineIsReadAsSignedDecimal) {
  Write("x\r\n7002abc\r\n");
  EXPECT_EQ(Load().relayPort, 7002u);
  Write("x\r\n  -1\r\n");
  EXPECT_EQ(Load().relayPort, 4294967295u);

  EXPECT_EQ(ParseRelayPortLine(" \t+15 16"), 15u);
  EXPECT_EQ(ParseRelayPortLine("-2147483648"), 2147483648u);
  EXPECT_EQ(ParseRelayPortLine("4294967295"), 4294967295u);
  EXPECT_EQ(ParseRelayPortLine("4294967296"), 0u);  // modulo 2^32, never undefined
  EXPECT_EQ(ParseRelayPortLine("port 7002"), 0u);
  EXPECT_EQ(ParseRelayPortLine("-"), 0u);
  EXPECT_EQ(ParseRelayPortLine("- 1"), 0u);
  EXPECT_EQ(ParseRelayPortLine(""), 0u);
}

TEST_F(PublicAddressFileTest, NoReadableFileKeepsTheDefaults) {
  EXPECT_FALSE(LoadPublicAddressFile(path_));
  fs::create_directory(path_);
  EXPECT_FALSE(LoadPublicAddressFile(path_));
}

TEST_F(PublicAddressFileTest, SaveIntoMissingFolderFailsAndSaysWhy) {
  const std::string path = (folder_ / "missing" / "server.txt").string();
  std::string error;
  EXPECT_FALSE(SavePublicAddressFile(path, "203.0.113.5", 7002, &error));
  EXPECT_EQ(error, "cannot write " + path + ": No such file or directory");
  EXPECT_TRUE(FolderEntries().empty());
}

TEST_F(PublicAddressFileTest, FailedRenameLeavesNoTemporaryFile) {
  fs::create_directories(fs::path(path_) / "inside");
  std::string error;
  EXPECT_FALSE(SavePublicAddressFile(path_, "203.0.113.5", 7002, &error));
  EXPECT_EQ(error, "cannot write " + path_ + ": Is a directory");
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"server.txt"});
  EXPECT_TRUE(fs::is_directory(fs::path(path_) / "inside"));
}

// Lowers the file size limit so that writes fail part-way, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    // Past the limit the kernel also raises SIGXFSZ, which would end the test.
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedHandler_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  void (*savedHandler_)(int) = nullptr;
  bool ok_ = false;
};

TEST_F(PublicAddressFileTest, WriteFailurePartWayKeepsTheOldFile) {
  Write("192.0.2.1\r\n7002\r\n");
  std::string error;
  bool saved;
  {
    FileSizeLimit limit(8);
    ASSERT_TRUE(limit.ok());
    saved = SavePublicAddressFile(path_, "203.0.113.5", 7003, &error);
  }
  EXPECT_FALSE(saved);
  EXPECT_EQ(error, "cannot write " + path_ + ": File too large");
  EXPECT_EQ(Read(), "192.0.2.1\r\n7002\r\n");
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"server.txt"});
}

TEST_F(PublicAddressFileTest, SaveKeepsThePermissionsOfTheOldFile) {
  Write("192.0.2.1\r\n7002\r\n");
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  std::string error;
  ASSERT_TRUE(SavePublicAddressFile(path_, "203.0.113.5", 7002, &error)) << error;
  EXPECT_EQ(fs::status(path_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(PublicAddressFileTest, SymbolicLinksAreFollowedAndStay) {
  Write("192.0.2.1\r\n7002\r\n");
  fs::rename(path_, folder_ / "kept.txt");
  fs::create_symlink("kept.txt", path_);
  std::string error;
  ASSERT_TRUE(SavePublicAddressFile(path_, "203.0.113.5", 7002, &error)) << error;
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(Read(), "203.0.113.5\r\n7002\r\n");
  // A link to a file not there yet creates it, through a second link.
  fs::create_directory(folder_ / "state");
  fs::remove(path_);
  fs::create_symlink(folder_ / "next", path_);
  fs::create_symlink("state/new.txt", folder_ / "next");
  ASSERT_TRUE(SavePublicAddressFile(path_, "198.51.100.7", 7003, &error)) << error;
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_TRUE(fs::is_symlink(folder_ / "next"));
  std::ifstream in(folder_ / "state" / "new.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "198.51.100.7\r\n7003\r\n");
}

// Saves as the unprivileged user nobody, in a child process (root may write
// any file, so "may not write" is only real without root's privileges).
// Returns whether it saved, and its error text.
std::pair<bool, std::string> SaveAsNobody(const std::string& path, std::string_view address) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {false, "pipe failed"};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    constexpr uid_t kNobody = 65534;
    if (::setresgid(kNobody, kNobody, kNobody) != 0 || ::setresuid(kNobody, kNobody, kNobody) != 0)
      ::_exit(2);
    std::string error;
    const bool saved = SavePublicAddressFile(path, address, 7002, &error);
    (void)!::write(pipeFds[1], error.data(), error.size());
    ::_exit(saved ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string error;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    error.append(buffer, size_t(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) return {false, "child failed"};
  return {WEXITSTATUS(status) == 0, error};
}

ino_t Inode(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_ino;
}

TEST_F(PublicAddressFileTest, AFileThisProcessMayNotWriteIsLeftAlone) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  Write("192.0.2.1\r\n7002\r\n");
  fs::permissions(folder_, fs::perms::all);  // anyone may add files to the folder
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  const ino_t before = Inode(path_);
  const auto [saved, error] = SaveAsNobody(path_, "203.0.113.5");
  EXPECT_FALSE(saved);
  EXPECT_EQ(error, "cannot write " + path_ + ": Permission denied");
  EXPECT_EQ(Read(), "192.0.2.1\r\n7002\r\n");
  EXPECT_EQ(Inode(path_), before);
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"server.txt"});
}

TEST_F(PublicAddressFileTest, AWritableFileInAFolderThatIsNotIsRewrittenInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  Write("192.0.2.100\r\n65535\r\n");  // longer than what replaces it
  fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read |
                             fs::perms::others_write);
  const ino_t before = Inode(path_);
  const auto [saved, error] = SaveAsNobody(path_, "203.0.113.5");
  EXPECT_TRUE(saved) << error;
  EXPECT_EQ(Read(), "203.0.113.5\r\n7002\r\n");
  EXPECT_EQ(Inode(path_), before);
  EXPECT_EQ(FolderEntries(), std::set<std::string>{"server.txt"});
  // Where the folder allows it, the file is replaced whole: a new inode.
  std::string rootError;
  ASSERT_TRUE(SavePublicAddressFile(path_, "198.51.100.7", 7002, &rootError)) << rootError;
  EXPECT_NE(Inode(path_), before);
  EXPECT_EQ(Read(), "198.51.100.7\r\n7002\r\n");
}

}  // namespace
}  // namespace halvyn
