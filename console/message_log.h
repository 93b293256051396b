// messageLog: the text of the message log, with what the console needs to send
// it in increments, and the time each line was added.
//
// Offsets are absolute within an epoch: text appended at offset O stays at O
// until the epoch changes. The epoch changes when the log is cleared, and when
// it grows past its bound and its oldest lines are dropped (the log keeps at
// most kMaxBytes, about 170,000 typical lines, trimming to kTrimmedBytes).
// Window thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvyn {

class MessageLog {
 public:
  static constexpr size_t kMaxBytes = 8 * 1024 * 1024;
  static constexpr size_t kTrimmedBytes = 6 * 1024 * 1024;

  // timeMs (Unix milliseconds) is kept for every line that text begins; a line
  // continued by a later append keeps the time of its beginning.
  void Append(std::string_view text, int64_t timeMs = 0);
  void Clear();

  const std::string& text() const { return text_; }
  uint64_t epoch() const { return epoch_; }
  // Absolute offset of the end of the text.
  uint64_t end() const { return start_ + text_.size(); }
  // The text after offset within epoch, or nothing when that point is gone.
  std::optional<std::string_view> Since(uint64_t epoch, uint64_t offset) const;
  // The times of the lines that begin at or after offset (0: every line), oldest
  // first: one per line of the text, a last line without its line end included.
  std::vector<int64_t> LineTimes(uint64_t offset = 0) const;
  size_t lineCount() const { return lineStarts_.size(); }

 private:
  struct LineStart {
    uint64_t offset;  // absolute, within the epoch
    int64_t timeMs;
  };

  std::string text_;
  std::deque<LineStart> lineStarts_;
  uint64_t epoch_ = 1;
  uint64_t start_ = 0;  // absolute offset of text_[0]
};

}  // namespace halvyn
