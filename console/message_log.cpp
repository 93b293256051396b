#include "console/message_log.h"

#include <algorithm>

namespace halvyn {

void MessageLog::Append(std::string_view text, int64_t timeMs) {
  bool lineBegins = text_.empty() || text_.back() == '\n';
  for (size_t i = 0; i < text.size(); ++i) {
    if (lineBegins) lineStarts_.push_back({end() + i, timeMs});
    lineBegins = text[i] == '\n';
  }
  text_.append(text);
  if (text_.size() <= kMaxBytes) return;
  // Drop whole lines from the front; the new epoch counts from the first kept byte.
  size_t cut = text_.size() - kTrimmedBytes;
  const size_t lineEnd = text_.find('\n', cut);
  cut = lineEnd == std::string::npos ? text_.size() : lineEnd + 1;
  const uint64_t cutAt = start_ + cut;
  while (!lineStarts_.empty() && lineStarts_.front().offset < cutAt) lineStarts_.pop_front();
  for (LineStart& line : lineStarts_) line.offset -= cutAt;
  text_.erase(0, cut);
  start_ = 0;
  ++epoch_;
}

std::vector<int64_t> MessageLog::LineTimes(uint64_t offset) const {
  auto first =
      std::lower_bound(lineStarts_.begin(), lineStarts_.end(), offset,
                       [](const LineStart& line, uint64_t at) { return line.offset < at; });
  std::vector<int64_t> times;
  times.reserve(size_t(lineStarts_.end() - first));
  for (; first != lineStarts_.end(); ++first) times.push_back(first->timeMs);
  return times;
}

void MessageLog::Clear() {
  text_.clear();
  lineStarts_.clear();
  start_ = 0;
  ++epoch_;
}

std::optional<std::string_view> MessageLog::Since(uint64_t epoch, uint64_t offset) const {
  if (epoch != epoch_ || offset < start_ || offset > end()) return std::nullopt;
  return std::string_view(text_).substr(size_t(offset - start_));
}

}  // namespace halvyn
