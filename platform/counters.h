// Counters for the metrics page (console/web/metrics.h). Any thread may read
// a counter at any time and sees its value at some recent moment: counters
// are relaxed atomics, independent of each other and of the state they count,
// so a scrape never waits for the threads that count.
//
//   Counter        any number of writer threads (one relaxed fetch_add)
//   OwnedCounter   one writer thread at a time, such as the relay receive
//                  thread for its datagram counts: a relaxed load and store,
//                  no locked instruction, as cheap as a plain increment. Two
//                  writers at once would lose counts (never corrupt memory).
//
// Counts are 64-bit and only grow, as Prometheus expects of a counter.
#pragma once

#include <atomic>
#include <cstdint>

namespace halvyn {

class Counter {
 public:
  void Add(uint64_t n = 1) { value_.fetch_add(n, std::memory_order_relaxed); }
  uint64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> value_{0};
};

class OwnedCounter {
 public:
  // The owning thread only.
  void Add(uint64_t n = 1) {
    value_.store(value_.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
  }
  uint64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> value_{0};
};

}  // namespace halvyn
