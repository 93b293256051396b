// Failures found while the soak runs, collected by kind so that one fault
// seen a thousand times reports once with its count and first examples.
// Any thread.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace halvyn::testing::soak {

class Findings {
 public:
  static constexpr size_t kExamplesPerKind = 5;

  void Add(const std::string& kind, const std::string& detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    Kind& entry = kinds_[kind];
    if (entry.examples.size() < kExamplesPerKind) entry.examples.push_back(detail);
    ++entry.count;
  }

  bool empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return kinds_.empty();
  }

  // One paragraph per kind: "kind (N times): example; example ...".
  std::string Report() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const auto& [kind, entry] : kinds_) {
      text += kind + " (" + std::to_string(entry.count) + " times)\n";
      for (const std::string& example : entry.examples) text += "    " + example + "\n";
    }
    return text;
  }

 private:
  struct Kind {
    size_t count = 0;
    std::vector<std::string> examples;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Kind> kinds_;
};

}  // namespace halvyn::testing::soak
