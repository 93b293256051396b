// Runs the real halvyn for a test: its own working folder, its output kept in
// files, its console reached over loopback. The destructor ends the process
// (SIGTERM, then SIGKILL after a few seconds) if the test did not.
//
// With Options::networkNamespace set, halvyn runs inside that rig namespace
// (`ip netns exec NS halvyn ...`, so pid() is halvyn's own) and every console
// request is made from a thread that has entered the same namespace: the
// console stays on the namespace's own 127.0.0.1, as an operator on that PC
// would reach it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace halvyn::testing {

class HalvynProcess {
 public:
  struct Options {
    std::vector<std::string> args;  // besides --console
    uint16_t consolePort = 7080;
    std::string consoleAddress = "127.0.0.1";
    std::filesystem::path workDir;  // empty: a fresh temporary folder
    std::string networkNamespace;   // empty: the test process's own
  };

  explicit HalvynProcess(Options options);
  explicit HalvynProcess(std::vector<std::string> args = {})
      : HalvynProcess(WithArgs(std::move(args))) {}
  static Options WithArgs(std::vector<std::string> args) {
    Options options;
    options.args = std::move(args);
    return options;
  }
  ~HalvynProcess();

  // Waits until the console answers; false if it never did.
  bool WaitUntilReady(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  nlohmann::json Window();
  // POSTs a command; returns the HTTP status and fills body.
  int Command(const std::string& command, const nlohmann::json& controls = nullptr,
              nlohmann::json* body = nullptr, int row = -1);
  // The value of one sample of GET /metrics, named with its labels exactly as
  // the page writes them (`halvyn_relay_limited_total{limit="names_per_ip"}`);
  // nothing when the page or the sample is missing.
  std::optional<uint64_t> Metric(const std::string& sample);
  // Polls the window until predicate holds; returns the last window seen.
  std::optional<nlohmann::json> WaitForWindow(
      const std::function<bool(const nlohmann::json&)>& predicate,
      std::chrono::milliseconds timeout = std::chrono::seconds(5));

  // Waits for the process to end; returns its exit status, or nothing on timeout.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  void Signal(int signal);
  pid_t pid() const { return pid_; }

  std::string Stdout() const;
  std::string Stderr() const;
  const std::filesystem::path& workDir() const { return workDir_; }

 private:
  // Runs request where the console can be reached (see networkNamespace).
  void InConsoleNetwork(const std::function<void()>& request) const;

  Options options_;
  std::filesystem::path workDir_;
  bool ownWorkDir_ = false;
  pid_t pid_ = -1;
  std::optional<int> exitStatus_;
};

}  // namespace halvyn::testing
