// Whole lines to a stream from several threads: each line is written with its
// "\n" and flushed under one lock, so lines never interleave and a reader of a
// pipe sees each one as soon as it is printed.
#pragma once

#include <ostream>
#include <string_view>

#include "platform/mutex.h"

namespace halvyn {

class LineOutput {
 public:
  explicit LineOutput(std::ostream& out) : out_(out) {}

  // Any thread.
  void Print(std::string_view line) {
    MutexLock lock(mutex_);
    out_ << line << '\n';
    out_.flush();
  }

 private:
  Mutex mutex_;
  std::ostream& out_;
};

}  // namespace halvyn
