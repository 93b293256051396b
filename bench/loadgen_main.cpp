// halvyn-loadgen: the benchmark's load generator and its table.
//
//   halvyn-loadgen rr|intake|broadcast|state|abuse|storm --pid PID [options]
//   halvyn-loadgen table RESULTS_FILE
//
// A scenario drives the server process PID on 127.0.0.1:PORT and prints one
// "result ..." line per phase; table reads such lines (from any number of
// runs) and prints the medians and ratios. Run `halvyn-loadgen --help`.
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "bench/console_pressure.h"
#include "bench/result_table.h"
#include "bench/scenario.h"

namespace {

constexpr char kUsage[] =
    "usage: halvyn-loadgen rr|intake|broadcast|state|abuse|storm --pid PID [options]\n"
    "       halvyn-loadgen table RESULTS_FILE\n"
    "options:\n"
    "  --target halvyn|echo|stun|drain|fanout   what the server speaks (default halvyn)\n"
    "  --label NAME        the target's name in result lines (default: the target)\n"
    "  --port N            the server's UDP port on 127.0.0.1 (default 7002)\n"
    "  --clients N         client sockets (default 64)\n"
    "  --window N          requests or triggers in flight per socket, closed loop (default 8)\n"
    "  --seconds S         length of each phase (default 3)\n"
    "  --rate R            requests per second of the latency phase (default 20000)\n"
    "  --overload F        overload offers F times the capacity (default 2)\n"
    "  --console-port N    state: the console's TCP port on 127.0.0.1; rr: a page reads\n"
    "                      its event stream throughout\n"
    "  --rates R,R,...     intake: instead of capacity and overload, open-loop phases at\n"
    "                      these offered rates per second\n"
    "  --senders N         intake: the open-loop phases send from N sockets (default all)\n"
    "  --log-lines N       state: message log lines to reach (default 10000)\n"
    "  --console-pressure slow|streams|idle\n"
    "                      state: hostile console connections from 127.0.0.2 meanwhile\n"
    "  --attack NAME       abuse: release, relogin, victim, fresh, keepalive, logout,\n"
    "                      info, routes or nowhere (see bench/abuse.cpp)\n"
    "  --patience S        abuse, storm: seconds to wait for a stalled server (default 30)\n"
    "  --phase-suffix TEXT abuse, storm: added to the phase's name in result lines\n"
    "  --check             verify counts at a low rate; exit 1 on a mismatch\n"
    "abuse and storm reach the server at 10.77.0.1 from the addresses of\n"
    "bench/topology.h, and its console on 127.0.0.1 in the server's namespace.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace halvyn::bench;
  if (argc < 2 || std::string_view(argv[1]) == "--help") {
    std::cout << kUsage;
    return argc < 2 ? 2 : 0;
  }
  const std::string_view scenario = argv[1];
  if (scenario == "table") {
    if (argc != 3) {
      std::cerr << kUsage;
      return 2;
    }
    return PrintResultTable(argv[2], std::cout) ? 0 : 1;
  }
  ScenarioOptions options;
  bool labelGiven = false;
  for (int i = 2; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (flag == "--check") {
      options.check = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::cerr << "halvyn-loadgen: " << flag << " needs a value\n" << kUsage;
      return 2;
    }
    const std::string value = argv[++i];
    if (flag == "--target") {
      const auto target = ParseTarget(value);
      if (!target) {
        std::cerr << "halvyn-loadgen: unknown target " << value << "\n";
        return 2;
      }
      options.target = *target;
      if (!labelGiven) options.label = value;
    } else if (flag == "--label") {
      options.label = value;
      labelGiven = true;
    } else if (flag == "--pid") {
      options.serverPid = pid_t(std::stol(value));
    } else if (flag == "--port") {
      options.port = uint16_t(std::stoul(value));
    } else if (flag == "--clients") {
      options.clients = std::stoul(value);
    } else if (flag == "--window") {
      options.window = std::stoi(value);
    } else if (flag == "--seconds") {
      options.seconds = std::stod(value);
    } else if (flag == "--rate") {
      options.moderateRate = std::stod(value);
    } else if (flag == "--overload") {
      options.overloadFactor = std::stod(value);
    } else if (flag == "--console-port") {
      options.consolePort = uint16_t(std::stoul(value));
    } else if (flag == "--attack") {
      options.attack = value;
    } else if (flag == "--patience") {
      options.patience = std::stod(value);
    } else if (flag == "--phase-suffix") {
      options.phaseSuffix = value;
    } else if (flag == "--rates") {
      std::istringstream list(value);
      for (std::string rate; std::getline(list, rate, ',');)
        options.rates.push_back(std::stod(rate));
    } else if (flag == "--senders") {
      options.senders = std::stoul(value);
    } else if (flag == "--log-lines") {
      options.logLines = std::stoul(value);
    } else if (flag == "--console-pressure" && ConsolePressure::KnownKind(value)) {
      options.consolePressure = value;
    } else {
      std::cerr << "halvyn-loadgen: unknown option " << flag << "\n" << kUsage;
      return 2;
    }
  }
  if (options.serverPid <= 0 || options.clients == 0 || options.window <= 0 ||
      options.seconds <= 0 || options.seconds > 60) {
    std::cerr
        << "halvyn-loadgen: needs --pid, at least one client, a window and 0 < seconds <= 60\n";
    return 2;
  }
  if (scenario == "rr") return RunRequestReply(options);
  if (scenario == "intake") return RunIntake(options);
  if (scenario == "broadcast") return RunBroadcast(options);
  if (scenario == "state") return RunState(options);
  if (scenario == "abuse") return RunAbuse(options);
  if (scenario == "storm") return RunStorm(options);
  std::cerr << "halvyn-loadgen: unknown scenario " << scenario << "\n" << kUsage;
  return 2;
}
