#include "tests/rig/network_rig.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace halvyn::testing::rig {

namespace {

constexpr char kPrefix[] = "hvrig";
constexpr char kNetnsDirectory[] = "/run/netns";
constexpr char kBridge[] = "br0";

std::atomic<int> rigCounter{0};

std::string Join(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& a : argv) text += (text.empty() ? "" : " ") + a;
  return text;
}

}  // namespace

bool NetworkRig::Permitted(std::string* why) {
  const std::string probe =
      std::string(kPrefix) + std::to_string(::getpid()) + "probe" + std::to_string(rigCounter++);
  const CommandResult added = RunCommand({"ip", "netns", "add", probe});
  if (added.exitCode != 0) {
    if (why) *why = "cannot create network namespaces here: " + added.output;
    return false;
  }
  RunCommand({"ip", "netns", "del", probe});
  return true;
}

void NetworkRig::RemoveStaleNamespaces() {
  // Only our own names, and only those whose creating process has gone.
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(kNetnsDirectory, ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kPrefix, 0) != 0) continue;
    const std::string digits = name.substr(sizeof kPrefix - 1);
    const long pid = std::strtol(digits.c_str(), nullptr, 10);
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    // Processes that run was running inside it, left behind when it died.
    const CommandResult inside = RunCommand({"ip", "netns", "pids", name});
    for (size_t at = 0; at < inside.output.size();) {
      const long child = std::strtol(inside.output.c_str() + at, nullptr, 10);
      if (child > 0) ::kill(pid_t(child), SIGKILL);
      const size_t end = inside.output.find('\n', at);
      at = end == std::string::npos ? inside.output.size() : end + 1;
    }
    RunCommand({"ip", "netns", "del", name});
  }
}

NetworkRig::NetworkRig() {
  RemoveStaleNamespaces();
  prefix_ = std::string(kPrefix) + std::to_string(::getpid()) + "x" + std::to_string(rigCounter++);
  directory_ = "/tmp/" + prefix_;
  std::error_code ignored;
  std::filesystem::create_directories(directory_, ignored);
  switchNamespace_ = prefix_ + "-switch";
  if (!Run({"ip", "netns", "add", switchNamespace_})) return;
  namespaces_.push_back(switchNamespace_);
  // Snooping off: every port sees every multicast datagram, joined or not.
  Run({"ip", "-n", switchNamespace_, "link", "add", kBridge, "type", "bridge", "mcast_snooping",
       "0"}) &&
      Run({"ip", "-n", switchNamespace_, "link", "set", kBridge, "up"});
}

NetworkRig::~NetworkRig() {
  // Processes first: a namespace lives on while a process is inside it.
  for (auto& process : processes_) process->Terminate();
  processes_.clear();
  for (auto name = namespaces_.rbegin(); name != namespaces_.rend(); ++name)
    RunCommand({"ip", "netns", "del", *name});
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

bool NetworkRig::Run(const std::vector<std::string>& argv) {
  if (!ok()) return false;
  const CommandResult result = RunCommand(argv);
  if (result.exitCode != 0) error_ = Join(argv) + ": " + result.output;
  return result.exitCode == 0;
}

std::string NetworkRig::AddHost(const std::string& role) {
  const std::string name = prefix_ + "-" + role;
  if (!Run({"ip", "netns", "add", name})) return "";
  namespaces_.push_back(name);
  if (!Run({"ip", "-n", name, "link", "set", "lo", "up"})) return "";
  return name;
}

bool NetworkRig::AddAdapter(const std::string& host, const std::string& interfaceName,
                            const std::string& cidr, const std::string& mac) {
  const std::string port = "port" + std::to_string(nextPort_++);
  if (!Run({"ip", "-n", switchNamespace_, "link", "add", port, "type", "veth", "peer", "name",
            interfaceName, "netns", host}) ||
      !Run({"ip", "-n", switchNamespace_, "link", "set", port, "master", kBridge, "up"}))
    return false;
  if (!mac.empty() && !Run({"ip", "-n", host, "link", "set", interfaceName, "address", mac}))
    return false;
  return Run({"ip", "-n", host, "addr", "add", cidr, "dev", interfaceName}) &&
         Run({"ip", "-n", host, "link", "set", interfaceName, "up"});
}

bool NetworkRig::AddAddress(const std::string& host, const std::string& interfaceName,
                            const std::string& cidr) {
  return Run({"ip", "-n", host, "addr", "add", cidr, "dev", interfaceName});
}

bool NetworkRig::AddDefaultRoute(const std::string& host, const std::string& gateway,
                                 const std::string& interfaceName, int metric) {
  return Run({"ip", "-n", host, "route", "add", "default", "via", gateway, "dev", interfaceName,
              "metric", std::to_string(metric)});
}

CommandResult NetworkRig::Exec(const std::string& host, const std::vector<std::string>& argv,
                               int timeoutMs) {
  std::vector<std::string> command = {"ip", "netns", "exec", host};
  command.insert(command.end(), argv.begin(), argv.end());
  return RunCommand(command, timeoutMs);
}

RigProcess& NetworkRig::Spawn(const std::string& host, const std::vector<std::string>& argv,
                              const std::string& inputFile) {
  std::vector<std::string> command = {"ip", "netns", "exec", host};
  command.insert(command.end(), argv.begin(), argv.end());
  const std::string output = directory_ + "/process" + std::to_string(processes_.size()) + ".out";
  processes_.push_back(
      std::make_unique<RigProcess>(command, output, inputFile.empty() ? "/dev/null" : inputFile));
  return *processes_.back();
}

}  // namespace halvyn::testing::rig
