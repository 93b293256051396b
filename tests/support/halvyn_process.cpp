#include "tests/support/halvyn_process.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "tests/rig/network_namespace_thread.h"
#include "tests/support/child_exit.h"

extern char** environ;

namespace halvyn::testing {

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

HalvynProcess::HalvynProcess(Options options) : options_(std::move(options)) {
  workDir_ = options_.workDir;
  if (workDir_.empty()) {
    char pattern[] = "/tmp/halvyn-test-XXXXXX";
    workDir_ = mkdtemp(pattern);
    ownWorkDir_ = true;
  }
  std::vector<std::string> args;
  if (!options_.networkNamespace.empty()) args = {"ip", "netns", "exec", options_.networkNamespace};
  args.insert(args.end(), {HALVYN_BIN, "--console",
                           options_.consoleAddress + ":" + std::to_string(options_.consolePort)});
  args.insert(args.end(), options_.args.begin(), options_.args.end());
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out = (workDir_ / "stdout.txt").string();
  const std::string err = (workDir_ / "stderr.txt").string();
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, workDir_.c_str());
  // posix_spawnp: "ip" is looked up in PATH; HALVYN_BIN is a full path.
  if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

HalvynProcess::~HalvynProcess() {
  if (pid_ > 0 && !exitStatus_) {
    Signal(SIGTERM);
    if (!WaitForExit(std::chrono::seconds(5))) {
      Signal(SIGKILL);
      WaitForExit(std::chrono::seconds(5));
    }
  }
  // A sanitizer report from the server fails the test that ran it.
  const std::string errors = Stderr();
  for (const char* report : {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer",
                             "ERROR: LeakSanitizer", "runtime error:"}) {
    if (errors.find(report) != std::string::npos) ADD_FAILURE() << "halvyn stderr:\n" << errors;
  }
  if (ownWorkDir_) {
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
  }
}

void HalvynProcess::InConsoleNetwork(const std::function<void()>& request) const {
  if (options_.networkNamespace.empty()) {
    request();
  } else if (!rig::RunInNetworkNamespace(options_.networkNamespace, request)) {
    ADD_FAILURE() << "cannot enter network namespace " << options_.networkNamespace;
  }
}

bool HalvynProcess::WaitUntilReady(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    bool answered = false;
    InConsoleNetwork([&] {
      httplib::Client client(options_.consoleAddress, options_.consolePort);
      client.set_connection_timeout(0, 200000);
      auto res = client.Get("/api/window");
      answered = res && res->status == 200;
    });
    if (answered) return true;
    if (WaitForExit(std::chrono::milliseconds(50))) return false;
  }
  return false;
}

nlohmann::json HalvynProcess::Window() {
  nlohmann::json window;
  InConsoleNetwork([&] {
    httplib::Client client(options_.consoleAddress, options_.consolePort);
    client.set_read_timeout(10, 0);
    auto res = client.Get("/api/window");
    if (!res || res->status != 200) return;
    window = nlohmann::json::parse(res->body, nullptr, false);
    if (window.is_discarded()) window = nullptr;
  });
  return window;
}

std::optional<uint64_t> HalvynProcess::Metric(const std::string& sample) {
  std::string page;
  InConsoleNetwork([&] {
    httplib::Client client(options_.consoleAddress, options_.consolePort);
    client.set_read_timeout(10, 0);
    auto res = client.Get("/metrics");
    if (res && res->status == 200) page = res->body;
  });
  const std::string prefix = "\n" + sample + " ";
  const size_t at = page.find(prefix);
  if (at == std::string::npos) return std::nullopt;
  return std::stoull(page.substr(at + prefix.size()));
}

int HalvynProcess::Command(const std::string& command, const nlohmann::json& controls,
                           nlohmann::json* body, int row) {
  nlohmann::json request = {{"command", command}};
  if (!controls.is_null()) request["controls"] = controls;
  if (row >= 0) request["row"] = row;
  int status = 0;
  InConsoleNetwork([&] {
    httplib::Client client(options_.consoleAddress, options_.consolePort);
    client.set_read_timeout(10, 0);
    auto res = client.Post("/api/command", request.dump(), "application/json");
    if (!res) return;
    if (body) *body = nlohmann::json::parse(res->body, nullptr, false);
    status = res->status;
  });
  return status;
}

std::optional<nlohmann::json> HalvynProcess::WaitForWindow(
    const std::function<bool(const nlohmann::json&)>& predicate,
    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  nlohmann::json window;
  do {
    window = Window();
    if (!window.is_null() && predicate(window)) return window;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

std::optional<int> HalvynProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (exitStatus_) return exitStatus_;
  if (pid_ <= 0) return std::nullopt;  // never started: waitpid(-1) would reap another child
  exitStatus_ = WaitForChildExit(pid_, timeout);
  return exitStatus_;
}

void HalvynProcess::Signal(int signal) {
  if (pid_ > 0 && !exitStatus_) kill(pid_, signal);
}

std::string HalvynProcess::Stdout() const {
  return ReadFile(workDir_ / "stdout.txt");
}
std::string HalvynProcess::Stderr() const {
  return ReadFile(workDir_ / "stderr.txt");
}

}  // namespace halvyn::testing
