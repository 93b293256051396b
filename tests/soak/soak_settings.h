// How long and how hard the soak runs. The rates are the default build's;
// the sanitizer builds divide them by the LAN tests' time scale, since the
// server runs several times slower there.
#pragma once

#include <cstdint>
#include <string>

#include "tests/lan/lan_test_fixture.h"

namespace halvyn::testing::soak {

using testing::Scaled;

struct SoakSettings {
  int64_t seconds = HALVYN_SOAK_DEFAULT_SECONDS;  // the loaded phase
  uint64_t seed = 0;                              // printed, so a failure can be replayed

  // Read from HALVYN_SOAK_SECONDS and HALVYN_SOAK_SEED when set; the seed
  // otherwise comes from the clock.
  static SoakSettings FromEnvironment();
  std::string Describe() const;
};

// Clients: one list of 545 records is the largest "h" datagram (65,400 bytes).
constexpr int kClientCount = 545;
// Clients that stay for the whole run and keep alive (the rest come and go).
constexpr int kKeeperCount = 440;
// Keepers that serve as the Tx and Rx devices of routes; they never change port.
constexpr int kRouteEndpointCount = 8;

// Every logged-in client sends "k" this often (the server drops after 24.6 s).
constexpr int64_t kKeepAliveMs = 4000;
// Silence after which the server must have dropped a client: 24,600 ms of
// silence plus one 3,000 ms sweep period, plus the notice's way to the window.
constexpr int64_t kSilenceLimitMs = 24600;
constexpr int64_t kSweepPeriodMs = 3000;

// Event intervals in the loaded phase (scaled up in the sanitizer builds).
constexpr int64_t kChurnEveryMs = 700;       // a churner logs in, logs out or vanishes
constexpr int64_t kInfoEveryMs = 1500;       // an "i" report
constexpr int64_t kConnectEveryMs = 400;     // a "p" to a keeper
constexpr int64_t kNatChangeEveryMs = 2500;  // a keeper re-sends from a new port
constexpr int64_t kRouteStepEveryMs = 150;   // a route request, probe or release
constexpr int64_t kNoiseEveryMs = 10;        // one random datagram
constexpr int64_t kConsoleNoiseEveryMs = 250;
constexpr int64_t kWindowPollEveryMs = 150;

// The window must answer within this (scaled in the sanitizer builds).
constexpr int64_t kWindowAnswerMs = 100;

}  // namespace halvyn::testing::soak
