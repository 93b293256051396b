// One token bucket per remote IPv4 address, for the per-address limits.
//
// Not thread-safe: each user serialises its own calls. The table is bounded:
// when it is full, addresses whose buckets have refilled are forgotten, and an
// address that still finds no room is let through (a flood from many spoofed
// addresses sends each of them too little to be limited anyway).
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "relay/token_bucket.h"

namespace halvyn {

class AddressBuckets {
 public:
  enum class Verdict {
    kAllowed,
    kRefused,          // the address is over its limit
    kStartedRefusing,  // the first refusal since the address was last allowed
  };

  // perSecond 0 turns the limit off (everything is allowed).
  AddressBuckets(uint64_t perSecond, uint64_t capacity, size_t maxAddresses = 65536);

  Verdict Take(uint32_t address, uint64_t cost, uint32_t now);
  bool enabled() const { return perSecond_ != 0; }
  size_t tracked() const { return entries_.size(); }

 private:
  struct Entry {
    TokenBucket bucket;
    bool refusing = false;
  };
  void ForgetRefilled(uint32_t now);

  uint64_t perSecond_;
  uint64_t capacity_;
  size_t maxAddresses_;
  std::unordered_map<uint32_t, Entry> entries_;
};

}  // namespace halvyn
