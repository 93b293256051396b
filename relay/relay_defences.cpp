#include "relay/relay_defences.h"

namespace halvyn {

RelayDefences::RelayDefences(const ClientTable& table, const DatagramSender& socket,
                             RelayNotices& notices, const TickClock& clock,
                             const RelayLimits& limits, RelayCounters& counters,
                             const DatagramSender* replies)
    : limits_(limits),
      clock_(clock),
      reporter_(notices, limits_, counters),
      destinations_(limits_, clock, reporter_),
      sender_(replies ? *replies : socket, destinations_),
      lists_(table, socket, &destinations_, clock, limits_.listBytesPerSecond, counters),
      // Two seconds' worth: a burst of a moment passes, a stream does not.
      datagrams_(limits_.datagramsPerIp, uint64_t(limits_.datagramsPerIp) * 2) {}

bool RelayDefences::AdmitDatagram(uint32_t source) {
  if (!datagrams_.enabled() || IsLoopbackAddress(source)) return true;
  const uint32_t now = clock_.Now();
  const AddressBuckets::Verdict verdict = datagrams_.Take(source, 1, now);
  if (verdict == AddressBuckets::Verdict::kAllowed) return true;
  reporter_.Refused(RelayLimit::kDatagramsPerIp, source,
                    verdict == AddressBuckets::Verdict::kStartedRefusing, now);
  return false;
}

bool RelayDefences::AdmitName(uint32_t source, int namesThere) {
  if (limits_.namesPerIp == 0 || IsLoopbackAddress(source)) return true;
  if (namesThere < int(limits_.namesPerIp)) return true;
  reporter_.Refused(RelayLimit::kNamesPerIp, source, /*started=*/true, clock_.Now());
  return false;
}

bool RelayDefences::AdmitRouteCommand(uint32_t source, bool clientThere) {
  if (!limits_.routesFromClientsOnly || clientThere) return true;
  reporter_.Refused(RelayLimit::kRoutesFromClients, source, /*started=*/true, clock_.Now());
  return false;
}

}  // namespace halvyn
