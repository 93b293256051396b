// The Prometheus text format (version 0.0.4) as the metrics page writes it,
// and the interface of a subsystem that shows its counters there.
//
// A source renders from relaxed atomics and state behind its own locks, so
// any thread may render at any time; a writer belongs to one render.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace halvyn {

class MetricsWriter {
 public:
  // A metric's HELP and TYPE lines; its samples follow.
  void Family(std::string_view name, std::string_view type, std::string_view help);
  // labels: empty, or `name="value"` pairs already escaped.
  void Sample(std::string_view name, std::string_view labels, uint64_t value);
  // A family of one sample without labels.
  void Single(std::string_view name, std::string_view type, std::string_view help, uint64_t value);
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// A gauge read from an int: negative values show as 0.
inline uint64_t NonNegative(int value) {
  return value < 0 ? 0 : uint64_t(value);
}

class MetricsSource {
 public:
  virtual ~MetricsSource() = default;
  virtual void RenderMetrics(MetricsWriter& out) const = 0;
};

}  // namespace halvyn
