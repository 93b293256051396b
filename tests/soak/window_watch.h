// Polls GET /api/window at a steady pace from inside the PC namespace, times
// each answer, and hands the parsed windows to the main thread. A window that
// does not answer, or answers later than the bound, is a finding: some thread
// of the server is holding the window thread up.
//
// The window runs one handler at a time, so a request that meets an operator's
// command waits for it: a device selection paces its sixteen writes over about
// 85 ms on the window thread. Such a request gets the bound twice, once for the
// command and once for itself; the main thread marks those commands with
// OperatorCommand().
//
// Its own thread; Take() from the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipv4.h"
#include "tests/soak/findings.h"

namespace halvyn::testing::soak {

struct WindowSample {
  int64_t sentAt = 0;
  int64_t answeredAt = 0;
  nlohmann::json window;
};

class WindowWatch {
 public:
  WindowWatch(std::string networkNamespace, Ipv4Endpoint console, int64_t everyMs, int64_t boundMs,
              Findings& findings);
  ~WindowWatch();
  void Start();
  void Stop();

  // Marks an operator command in progress until the returned guard goes.
  class OperatorCommandGuard {
   public:
    explicit OperatorCommandGuard(WindowWatch& watch) : watch_(watch) {
      ++watch_.commandsInFlight_;
    }
    ~OperatorCommandGuard();
    OperatorCommandGuard(const OperatorCommandGuard&) = delete;
    OperatorCommandGuard& operator=(const OperatorCommandGuard&) = delete;

   private:
    WindowWatch& watch_;
  };
  OperatorCommandGuard OperatorCommand() { return OperatorCommandGuard(*this); }

  // The windows read since the last call, oldest first.
  std::vector<WindowSample> Take();

  // Answer times in milliseconds (call after Stop).
  size_t count() const { return latenciesUs_.size(); }
  double MaxMs() const;
  double PercentileMs(double p) const;

 private:
  void Run();

  std::string namespace_;
  Ipv4Endpoint console_;
  int64_t everyMs_;
  int64_t boundMs_;
  Findings& findings_;
  std::atomic<bool> stop_{false};
  std::atomic<int> commandsInFlight_{0};
  std::atomic<int64_t> lastCommandEndedUs_{0};
  std::thread thread_;
  std::mutex mutex_;
  std::deque<WindowSample> samples_;  // guarded by mutex_
  std::vector<int64_t> latenciesUs_;  // the watch thread's until Stop
};

}  // namespace halvyn::testing::soak
