#include "tests/client/client_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/child_exit.h"

extern char** environ;

namespace halvyn::testing {

ClientProcess::ClientProcess(const std::vector<std::string>& args) {
  // A write to a client that has already ended must fail, not end the test.
  signal(SIGPIPE, SIG_IGN);
  char pattern[] = "/tmp/halvyn-client-out-XXXXXX";
  const int fd = mkstemp(pattern);
  if (fd < 0) return;
  close(fd);
  outputFile_ = pattern;

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
  std::vector<std::string> argv = {HALVYN_CLIENT_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (auto& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile_.c_str(), O_WRONLY | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (outputFile_ + ".err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (posix_spawn(&pid_, HALVYN_CLIENT_BIN, &actions, nullptr, pointers.data(), environ) != 0)
    pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[0]);
  input_ = pipeFds[1];
}

ClientProcess::~ClientProcess() {
  CloseInput();
  if (pid_ > 0 && !WaitForExit(2000)) {
    Signal(SIGTERM);
    if (!WaitForExit(3000)) {
      Signal(SIGKILL);
      WaitForExit(3000);
    }
  }
  if (!outputFile_.empty()) {
    std::remove(outputFile_.c_str());
    std::remove((outputFile_ + ".err").c_str());
  }
}

void ClientProcess::Send(const std::string& line) {
  if (input_ < 0) return;
  const std::string text = line + "\n";
  // A pipe takes a short line whole.
  [[maybe_unused]] const ssize_t written = write(input_, text.data(), text.size());
}

void ClientProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

std::vector<std::string> ClientProcess::Lines() const {
  std::ifstream in(outputFile_);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::optional<std::string> ClientProcess::WaitForLine(const std::string& prefix,
                                                      int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    for (const std::string& line : Lines())
      if (line.starts_with(prefix)) return line;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

uint16_t ClientProcess::WaitForReadyPort(int timeoutMs) const {
  const auto line = WaitForLine("ready local=", timeoutMs);
  if (!line) return 0;
  const size_t colon = line->find(':');
  return uint16_t(std::stoi(line->substr(colon + 1)));
}

std::optional<int> ClientProcess::WaitForExit(int timeoutMs) {
  if (exitStatus_ || pid_ <= 0) return exitStatus_;
  exitStatus_ = WaitForChildExit(pid_, std::chrono::milliseconds(timeoutMs));
  return exitStatus_;
}

void ClientProcess::Signal(int signal) {
  if (pid_ > 0 && !exitStatus_) kill(pid_, signal);
}

}  // namespace halvyn::testing
