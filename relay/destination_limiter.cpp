#include "relay/destination_limiter.h"

#include <algorithm>
#include <vector>

namespace halvyn {

namespace {

// The bucket holds four seconds' worth, and never less than the largest list
// datagram, so every datagram can pass once the address has been quiet.
uint64_t BucketCapacity(uint32_t bytesPerSecond) {
  return std::max<uint64_t>(uint64_t(bytesPerSecond) * 4, 65536);
}

}  // namespace

DestinationLimiter::DestinationLimiter(const RelayLimits& limits, const TickClock& clock,
                                       LimitReporter& reporter)
    : clock_(clock),
      reporter_(reporter),
      buckets_(limits.bytesPerIp, BucketCapacity(limits.bytesPerIp)) {}

bool DestinationLimiter::Allow(Ipv4Endpoint destination, size_t bytes) {
  if (IsLoopbackAddress(destination.address)) return true;
  const uint32_t now = clock_.Now();
  AddressBuckets::Verdict verdict;
  {
    MutexLock lock(mutex_);
    if (!buckets_.enabled()) return true;
    verdict = buckets_.Take(destination.address, bytes, now);
  }
  if (verdict == AddressBuckets::Verdict::kAllowed) return true;
  reporter_.Refused(RelayLimit::kBytesPerIp, destination.address,
                    verdict == AddressBuckets::Verdict::kStartedRefusing, now);
  return false;
}

bool LimitedSender::SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const {
  return limiter_.Allow(destination, datagram.size()) && socket_.SendTo(datagram, destination);
}

size_t LimitedSender::SendToEach(std::span<const uint8_t> datagram,
                                 std::span<const Ipv4Endpoint> destinations) const {
  thread_local std::vector<Ipv4Endpoint> allowed;
  allowed.clear();
  for (const Ipv4Endpoint& destination : destinations)
    if (limiter_.Allow(destination, datagram.size())) allowed.push_back(destination);
  return socket_.SendToEach(datagram, allowed);
}

}  // namespace halvyn
