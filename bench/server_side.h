// What the load generator reaches on the server's side of the network: the
// console's HTTP API and /metrics on the server's loopback, sockets opened in
// the server's network namespace, and the server's exit on SIGTERM. The
// server may run in a network namespace of its own (the abuse and storm
// scenarios reach it over a veth); the load generator then enters that
// namespace on a thread of its own for each of these.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace halvyn::bench {

// Runs fn on a thread that has entered the network namespace of process pid,
// and waits for it. False (fn not run) when the namespace cannot be entered.
bool InNetworkOf(pid_t pid, const std::function<void()>& fn);

// The console on 127.0.0.1:port in the server's namespace.
class Console {
 public:
  Console(pid_t pid, uint16_t port) : pid_(pid), port_(port) {}
  // GET path: the body of a 200 answer, or nothing (no answer within
  // timeoutS, or another status).
  std::optional<std::string> Get(const std::string& path, int timeoutS) const;
  // The sum of every sample of metric (any labels) on /metrics; nothing when
  // /metrics did not answer within timeoutS.
  std::optional<double> Metric(std::string_view metric, int timeoutS = 5) const;

 private:
  pid_t pid_;
  uint16_t port_;
};

// The sum of every sample of metric in a Prometheus text page.
double MetricSum(std::string_view page, std::string_view metric);

// Asks GET /api/window every intervalMs, each with a timeout of timeoutS, on
// a thread of its own from construction to Stop(). A request still waiting
// at Stop() counts with the time it has waited so far.
class WindowWatch {
 public:
  WindowWatch(pid_t pid, uint16_t port, int intervalMs, int timeoutS);
  ~WindowWatch();
  WindowWatch(const WindowWatch&) = delete;
  WindowWatch& operator=(const WindowWatch&) = delete;

  struct Figures {
    size_t requests = 0;
    size_t failed = 0;  // no answer (a timeout included)
    double p50Ms = 0;
    double maxMs = 0;
  };
  Figures Stop();

 private:
  void Run(pid_t pid, uint16_t port, int intervalMs, int timeoutS);

  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<double> ms_;
  size_t failed_ = 0;
  uint64_t pendingSinceNs_ = 0;  // start of the request in flight, 0 when none
  void* client_ = nullptr;       // the thread's httplib client, stopped by Stop()
  std::thread thread_;
};

// Sends SIGTERM to pid and waits until it has exited (gone or a zombie), at
// most capS. Returns the seconds it took, or nothing when it was still
// running after capS.
std::optional<double> SigtermSeconds(pid_t pid, double capS);

}  // namespace halvyn::bench
