// The operator's actions that legitimately change who is listed: Stop (until
// Start) and Clear clients. Listing checks skip any stretch of time that
// overlaps one. Main thread only.
#pragma once

#include <cstdint>
#include <vector>

namespace halvyn::testing::soak {

class Timeline {
 public:
  // The relay stopped at `from` and was started again at `to` (INT64_MAX while stopped).
  void Stopped(int64_t from) { spans_.push_back({from, INT64_MAX}); }
  void Started(int64_t at) {
    if (!spans_.empty() && spans_.back().to == INT64_MAX) spans_.back().to = at;
  }
  void Cleared(int64_t at) { spans_.push_back({at, at}); }

  // True when an action's span meets [from, to].
  bool Disturbed(int64_t from, int64_t to) const {
    for (const Span& span : spans_)
      if (span.from <= to && span.to >= from) return true;
    return false;
  }

 private:
  struct Span {
    int64_t from;
    int64_t to;
  };
  std::vector<Span> spans_;
};

}  // namespace halvyn::testing::soak
