#include "tests/lan/remote_client.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "tests/lan/lan_test_fixture.h"

namespace halvyn::testing {

namespace {

std::atomic<int> fifoCounter{0};

}  // namespace

RemoteClient::RemoteClient(rig::NetworkRig& rig, const std::string& host,
                           const std::vector<std::string>& arguments) {
  fifo_ = rig.directory() + "/client" + std::to_string(fifoCounter++) + ".in";
  EXPECT_EQ(::mkfifo(fifo_.c_str(), 0600), 0) << fifo_;
  // Opened for reading and writing, so this open does not wait for a reader
  // and the client's open does not wait for a writer. Not inherited.
  input_ = ::open(fifo_.c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_GE(input_, 0) << fifo_;
  std::vector<std::string> argv = {HALVYN_CLIENT};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  process_ = &rig.Spawn(host, argv, fifo_);
  EXPECT_TRUE(process_->WaitForOutput("ready ", Scaled(5000))) << process_->Output();
}

RemoteClient::~RemoteClient() {
  if (input_ >= 0) ::close(input_);
  ::unlink(fifo_.c_str());
}

void RemoteClient::Command(const std::string& line) {
  const std::string text = line + "\n";
  EXPECT_EQ(::write(input_, text.data(), text.size()), ssize_t(text.size())) << line;
}

std::vector<std::string> RemoteClient::Lines(const std::string& prefix) const {
  std::vector<std::string> lines;
  std::istringstream output(process_->Output());
  std::string line;
  while (std::getline(output, line))
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  return lines;
}

std::vector<std::string> RemoteClient::WaitForLines(const std::string& prefix, size_t count,
                                                    int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<std::string> lines = Lines(prefix);
  while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    lines = Lines(prefix);
  }
  return lines;
}

std::string RemoteClient::WaitForLine(const std::string& prefix, size_t count, int timeoutMs) {
  const std::vector<std::string> lines = WaitForLines(prefix, count, timeoutMs);
  return lines.size() >= count ? lines[count - 1] : "";
}

}  // namespace halvyn::testing
