#include "tests/rig/rig_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace halvyn::testing::rig {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& outputFile,
            const std::string& inputFile) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputFile.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, int timeoutMs) {
  char path[] = "/tmp/halvyn-rig-command-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return {};
  ::close(fd);
  CommandResult result;
  {
    RigProcess process(argv, path);
    result.exitCode = process.Wait(timeoutMs);
    result.output = process.Output();
  }
  ::unlink(path);
  return result;
}

RigProcess::RigProcess(const std::vector<std::string>& argv, std::string outputFile,
                       const std::string& inputFile)
    : outputFile_(std::move(outputFile)) {
  pid_ = Spawn(argv, outputFile_, inputFile);
}

RigProcess::~RigProcess() {
  if (pid_ > 0 && !reaped_) Terminate();
}

std::string RigProcess::Output() const {
  return ReadFile(outputFile_);
}

bool RigProcess::WaitForOutput(const std::string& needle, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (Output().find(needle) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (!Running()) {
      // Ended: one last look, since it may have printed just before.
      return Output().find(needle) != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool RigProcess::Signal(int signal) const {
  return pid_ > 0 && !reaped_ && ::kill(pid_, signal) == 0;
}

bool RigProcess::Running() {
  if (pid_ <= 0 || reaped_) return false;
  if (::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

int RigProcess::Wait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!reaped_) {
    const pid_t done = ::waitpid(pid_, &status_, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) {
      reaped_ = true;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
      reaped_ = true;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ExitCode(status_);
}

int RigProcess::Terminate(int timeoutMs) {
  if (pid_ <= 0) return -1;
  if (!reaped_) ::kill(pid_, SIGTERM);
  return Wait(timeoutMs);
}

}  // namespace halvyn::testing::rig
