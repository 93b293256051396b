#include "console/message_log.h"

namespace halvyn {

void MessageLog::Append(std::string_view text) {
  text_.append(text);
  if (text_.size() <= kMaxBytes) return;
  // Drop whole lines from the front.
  size_t cut = text_.size() - kTrimmedBytes;
  const size_t lineEnd = text_.find('\n', cut);
  cut = lineEnd == std::string::npos ? text_.size() : lineEnd + 1;
  text_.erase(0, cut);
  start_ = 0;
  ++epoch_;
}

void MessageLog::Clear() {
  text_.clear();
  start_ = 0;
  ++epoch_;
}

std::optional<std::string_view> MessageLog::Since(uint64_t epoch, uint64_t offset) const {
  if (epoch != epoch_ || offset < start_ || offset > end()) return std::nullopt;
  return std::string_view(text_).substr(size_t(offset - start_));
}

}  // namespace halvyn
