// Counts what each per-address limit refused and tells the operator, in one log
// line, when a limit starts refusing an address: at most one line per limit
// every kLimitLineIntervalMs, so a flood cannot become a flood of log lines.
// Any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "relay/relay_counters.h"
#include "relay/relay_limits.h"
#include "relay/relay_notices.h"

namespace halvyn {

enum class RelayLimit : uint8_t {
  kDatagramsPerIp,     // datagrams per second from one address
  kNamesPerIp,         // names logged in from one address
  kBytesPerIp,         // bytes per second sent to one address
  kRoutesFromClients,  // route commands from an address with no client (when asked for)
};
inline constexpr size_t kRelayLimitCount = 4;

// Quiet time between two log lines of the same limit.
constexpr uint32_t kLimitLineIntervalMs = 10000;

// The log line for a limit that starts refusing `address` (network order).
std::string LimitLine(RelayLimit limit, uint32_t address, const RelayLimits& limits);

class LimitReporter {
 public:
  // Refusals are counted in counters.limited.
  LimitReporter(RelayNotices& notices, const RelayLimits& limits, RelayCounters& counters);

  // One refusal by `limit`; `started` when it is the first for this address
  // since it was last allowed.
  void Refused(RelayLimit limit, uint32_t address, bool started, uint32_t now);

 private:
  RelayNotices& notices_;
  RelayLimits limits_;
  RelayCounters& counters_;
  std::array<std::atomic<uint32_t>, kRelayLimitCount> lastLine_{};
  std::array<std::atomic<bool>, kRelayLimitCount> anyLine_{};
};

}  // namespace halvyn
