#include "bench/process_stats.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace halvyn::bench {

uint64_t ProcessCpuNs(pid_t pid) {
  uint64_t total = 0;
  std::error_code error;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream in(task.path() / "schedstat");
    uint64_t runNs = 0;
    if (in >> runNs) total += runNs;
  }
  return total;
}

namespace {

uint64_t StatusKib(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) == 0) return std::stoull(line.substr(key.size()));
  }
  return 0;
}

}  // namespace

uint64_t ResidentKib(pid_t pid) {
  return StatusKib(pid, "VmRSS:");
}
uint64_t PeakResidentKib(pid_t pid) {
  return StatusKib(pid, "VmHWM:");
}

UdpSocketCounters ReadUdpSockets(const std::function<bool(uint16_t port)>& accept,
                                 const char* table) {
  // "sl local_address rem_address st tx_queue:rx_queue tr:when retrnsmt uid
  //  timeout inode ref pointer drops", addresses as HEXADDR:HEXPORT.
  UdpSocketCounters counters;
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // the heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode, ref,
        pointer;
    uint64_t drops = 0;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode >> ref >> pointer >> drops))
      continue;
    const size_t colon = local.find(':');
    if (colon == std::string::npos) continue;
    const auto port = uint16_t(std::stoul(local.substr(colon + 1), nullptr, 16));
    if (!accept(port)) continue;
    const size_t queueColon = queues.find(':');
    counters.queuedBytes += std::stoull(queues.substr(queueColon + 1), nullptr, 16);
    counters.drops += drops;
    ++counters.sockets;
  }
  return counters;
}

}  // namespace halvyn::bench
