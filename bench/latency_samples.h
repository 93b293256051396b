// Round-trip times of one phase, in nanoseconds, and their percentiles.
// One thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace halvyn::bench {

class LatencySamples {
 public:
  void Add(uint64_t ns) { samples_.push_back(ns); }
  void Clear() { samples_.clear(); }
  size_t size() const { return samples_.size(); }
  // The p-th percentile (0..100) in microseconds; 0 when there are no samples.
  double PercentileUs(double p) {
    if (samples_.empty()) return 0;
    const size_t k = std::min(samples_.size() - 1, size_t(p / 100.0 * double(samples_.size())));
    std::nth_element(samples_.begin(), samples_.begin() + long(k), samples_.end());
    return double(samples_[k]) / 1000.0;
  }

 private:
  std::vector<uint64_t> samples_;
};

}  // namespace halvyn::bench
