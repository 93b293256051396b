#include "relay/limit_reporter.h"

#include "platform/ipv4.h"

namespace halvyn {

std::string LimitLine(RelayLimit limit, uint32_t address, const RelayLimits& limits) {
  const std::string from = DottedText(address);
  switch (limit) {
    case RelayLimit::kDatagramsPerIp:
      return "Limit: datagrams from " + from + " dropped (over " +
             std::to_string(limits.datagramsPerIp) + " per second).\r\n";
    case RelayLimit::kNamesPerIp:
      return "Limit: logins from " + from + " refused (over " + std::to_string(limits.namesPerIp) +
             " names).\r\n";
    case RelayLimit::kBytesPerIp:
      return "Limit: datagrams to " + from + " held back (over " +
             std::to_string(limits.bytesPerIp) + " bytes per second).\r\n";
    case RelayLimit::kRoutesFromClients:
      return "Limit: route commands from " + from + " refused (no client logged in there).\r\n";
  }
  return {};
}

LimitReporter::LimitReporter(RelayNotices& notices, const RelayLimits& limits,
                             RelayCounters& counters)
    : notices_(notices), limits_(limits), counters_(counters) {}

void LimitReporter::Refused(RelayLimit limit, uint32_t address, bool started, uint32_t now) {
  const size_t index = size_t(limit);
  counters_.limited[index].Add();
  if (!started) return;
  uint32_t last = lastLine_[index].load(std::memory_order_relaxed);
  if (anyLine_[index].load(std::memory_order_relaxed) && now - last < kLimitLineIntervalMs) return;
  // One thread wins the line when several start refusing at once.
  if (!lastLine_[index].compare_exchange_strong(last, now, std::memory_order_relaxed)) return;
  anyLine_[index].store(true, std::memory_order_relaxed);
  notices_.PostLimitLine(LimitLine(limit, address, limits_));
}

}  // namespace halvyn
