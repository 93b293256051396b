// The load generator's scenarios. Each runs its phases against one server
// process, prints a result line per phase (see measurement.h), and returns 0,
// or 1 when --check found a wrong count or a wrong reply.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/traffic.h"

namespace halvyn::bench {

struct ScenarioOptions {
  Target target = Target::kHalvyn;
  std::string label = "halvyn";  // the target's name in result lines
  pid_t serverPid = 0;
  uint16_t port = 7002;
  size_t clients = 64;
  int window = 8;               // requests (or triggers) in flight per socket, closed loop
  double seconds = 3;           // length of each measured phase
  double moderateRate = 20000;  // requests per second for the latency phase
  double overloadFactor = 2;    // overload offers this times the measured capacity
  bool check = false;           // verify counts at a low rate; exit 1 on a mismatch
  uint16_t consolePort = 0;     // state: the console to query (0: none)
  size_t logLines = 10000;      // state: message log lines to reach
  std::vector<double> rates;    // intake: open-loop phases at these offered rates per second
  size_t senders = 0;           // intake: sockets the open-loop phases send from (0: all)
  std::string consolePressure;  // state: hostile connections held meanwhile (console_pressure.h)
  std::string attack;           // abuse: which attack
  std::string phaseSuffix;      // abuse, storm: added to the phase's name
  double patience = 30;         // abuse, storm: seconds to wait for a stalled server
};

int RunRequestReply(const ScenarioOptions& options);
int RunIntake(const ScenarioOptions& options);
int RunBroadcast(const ScenarioOptions& options);
int RunState(const ScenarioOptions& options);
int RunAbuse(const ScenarioOptions& options);
int RunStorm(const ScenarioOptions& options);

// Prints "check FAILED: what" on stderr and returns 1.
int CheckFailed(const std::string& what);

}  // namespace halvyn::bench
