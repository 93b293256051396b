#include "relay/address_buckets.h"

#include <iterator>

namespace halvyn {

AddressBuckets::AddressBuckets(uint64_t perSecond, uint64_t capacity, size_t maxAddresses)
    : perSecond_(perSecond), capacity_(capacity), maxAddresses_(maxAddresses) {}

void AddressBuckets::ForgetRefilled(uint32_t now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    it = it->second.bucket.Full(now) ? entries_.erase(it) : std::next(it);
  }
}

AddressBuckets::Verdict AddressBuckets::Take(uint32_t address, uint64_t cost, uint32_t now) {
  if (!enabled()) return Verdict::kAllowed;
  auto found = entries_.find(address);
  if (found == entries_.end()) {
    if (entries_.size() >= maxAddresses_) ForgetRefilled(now);
    if (entries_.size() >= maxAddresses_) return Verdict::kAllowed;
    found = entries_.emplace(address, Entry{TokenBucket(perSecond_, capacity_, now)}).first;
  }
  Entry& entry = found->second;
  if (entry.bucket.Take(cost, now)) {
    entry.refusing = false;
    return Verdict::kAllowed;
  }
  if (entry.refusing) return Verdict::kRefused;
  entry.refusing = true;
  return Verdict::kStartedRefusing;
}

}  // namespace halvyn
