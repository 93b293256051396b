#include "bench/server_side.h"

#include <fcntl.h>
#include <httplib.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "bench/bench_clock.h"

namespace halvyn::bench {

bool InNetworkOf(pid_t pid, const std::function<void()>& fn) {
  const std::string path = "/proc/" + std::to_string(pid) + "/ns/net";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool entered = false;
  std::thread([&] {
    entered = setns(fd, CLONE_NEWNET) == 0;
    if (entered) fn();
  }).join();
  close(fd);
  return entered;
}

std::optional<std::string> Console::Get(const std::string& path, int timeoutS) const {
  std::optional<std::string> body;
  InNetworkOf(pid_, [&] {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(timeoutS, 0);
    client.set_read_timeout(timeoutS, 0);
    auto response = client.Get(path);
    if (response && response->status == 200) body = response->body;
  });
  return body;
}

double MetricSum(std::string_view page, std::string_view metric) {
  double sum = 0;
  size_t at = 0;
  while (at < page.size()) {
    size_t end = page.find('\n', at);
    if (end == std::string_view::npos) end = page.size();
    const std::string_view line = page.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(metric) || line.size() == metric.size()) continue;
    const char next = line[metric.size()];
    if (next != ' ' && next != '{') continue;
    const size_t space = line.rfind(' ');
    sum += std::strtod(std::string(line.substr(space + 1)).c_str(), nullptr);
  }
  return sum;
}

std::optional<double> Console::Metric(std::string_view metric, int timeoutS) const {
  const std::optional<std::string> page = Get("/metrics", timeoutS);
  if (!page) return std::nullopt;
  return MetricSum(*page, metric);
}

WindowWatch::WindowWatch(pid_t pid, uint16_t port, int intervalMs, int timeoutS) {
  thread_ = std::thread([=, this] { Run(pid, port, intervalMs, timeoutS); });
}

WindowWatch::~WindowWatch() {
  if (thread_.joinable()) Stop();
}

void WindowWatch::Run(pid_t pid, uint16_t port, int intervalMs, int timeoutS) {
  InNetworkOf(pid, [&] {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(timeoutS, 0);
    client.set_read_timeout(timeoutS, 0);
    {
      std::lock_guard lock(mutex_);
      client_ = &client;
    }
    while (!stopping_) {
      const uint64_t start = NowNs();
      {
        std::lock_guard lock(mutex_);
        pendingSinceNs_ = start;
      }
      auto response = client.Get("/api/window");
      const double ms = double(NowNs() - start) / 1e6;
      {
        std::lock_guard lock(mutex_);
        if (pendingSinceNs_ != 0) {  // not already counted by Stop()
          ms_.push_back(ms);
          if (!response || response->status != 200) ++failed_;
        }
        pendingSinceNs_ = 0;
      }
      for (int waited = 0; waited < intervalMs && !stopping_; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard lock(mutex_);
    client_ = nullptr;
  });
}

WindowWatch::Figures WindowWatch::Stop() {
  stopping_ = true;
  {
    std::lock_guard lock(mutex_);
    if (pendingSinceNs_ != 0) {
      ms_.push_back(double(NowNs() - pendingSinceNs_) / 1e6);
      ++failed_;
      pendingSinceNs_ = 0;
    }
    if (client_) static_cast<httplib::Client*>(client_)->stop();
  }
  thread_.join();
  Figures figures;
  std::sort(ms_.begin(), ms_.end());
  figures.requests = ms_.size();
  figures.failed = failed_;
  if (!ms_.empty()) {
    figures.p50Ms = ms_[ms_.size() / 2];
    figures.maxMs = ms_.back();
  }
  return figures;
}

namespace {

// True while pid runs (a zombie has exited: its parent has not reaped it yet).
bool Running(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return false;
  const size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

}  // namespace

std::optional<double> SigtermSeconds(pid_t pid, double capS) {
  const uint64_t start = NowNs();
  if (kill(pid, SIGTERM) != 0) return std::nullopt;
  const uint64_t end = start + uint64_t(capS * 1e9);
  while (Running(pid)) {
    if (NowNs() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return double(NowNs() - start) / 1e9;
}

}  // namespace halvyn::bench
