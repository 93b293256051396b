// Readings of the server under test around one phase, and the result line a
// phase prints:
//   result scenario=S target=T phase=P key=value ...
// (the suite's script collects these lines; `halvyn-loadgen table` reads them).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "bench/bench_clock.h"
#include "bench/process_stats.h"

namespace halvyn::bench {

class ServerProbe {
 public:
  ServerProbe(pid_t pid, uint16_t port) : pid_(pid), port_(port) {}

  struct Reading {
    uint64_t wallNs = 0;
    uint64_t cpuNs = 0;
    UdpSocketCounters socket;  // the server's socket on its port
  };
  Reading Read() const;
  // Waits until the server's receive queue is empty, at most maxMs. Returns
  // whether it emptied.
  bool WaitQueueEmpty(int maxMs) const;

  pid_t pid() const { return pid_; }
  uint16_t port() const { return port_; }

 private:
  pid_t pid_;
  uint16_t port_;
};

class ResultLine {
 public:
  ResultLine(std::string_view scenario, std::string_view target, std::string_view phase);
  ResultLine& Add(std::string_view key, double value);
  ResultLine& Add(std::string_view key, std::string_view value);
  // Prints the line on stdout (flushed).
  void Print() const;

 private:
  std::ostringstream text_;
};

}  // namespace halvyn::bench
