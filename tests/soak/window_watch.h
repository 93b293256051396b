// Polls GET /api/window at a steady pace from inside the PC namespace, times
// each answer, and hands the parsed windows to the main thread. A window that
// does not answer, or answers later than the bound, is a finding: some thread
// of the server is holding the window thread up.
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

namespace halvyn::soak {

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
  std::thread thread_;
  std::mutex mutex_;
  std::deque<WindowSample> samples_;  // guarded by mutex_
  std::vector<int64_t> latenciesUs_;  // the watch thread's until Stop
};

}  // namespace halvyn::soak
