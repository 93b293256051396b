// The figures of one soak run, gathered as it goes and printed as its last
// line, so that runs can be compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/soak/client_fleet.h"
#include "tests/soak/process_status.h"
#include "tests/soak/route_driver.h"

namespace halvyn::testing::soak {

struct SoakFigures {
  int64_t seconds = 0;  // the loaded phase
  uint64_t seed = 0;
  ClientFleet::Counters clients;
  uint64_t noiseDatagrams = 0;
  uint64_t consoleConnections = 0;  // malformed HTTP at the console
  uint64_t consoleAnswered = 0;
  RouteDriver::Counters routes;
  int resyncs = 0;      // selections made again to recover the route model
  int routesAtEnd = 0;  // held when the loaded phase was over
  int stops = 0;
  int clears = 0;
  int selections = 0;
  size_t windowAnswers = 0;
  double windowMaxMs = 0;
  double windowP99Ms = 0;
  ProcessStatus warm;  // after the warm-up
  ProcessStatus last;  // before Exit
  uint64_t relaySocketDrops = 0;
  int64_t exitMs = 0;
};

// "soak figures: 120 s, seed 42; datagrams sent ...; exit 35 ms" (no newline).
std::string FiguresLine(const SoakFigures& figures);

}  // namespace halvyn::testing::soak
