// Lines of text from a file descriptor (standard input by default), read with
// a wait that another thread can interrupt, so a program blocked on its input
// can still be ended cleanly by a signal.
//
// One thread at a time may ReadLine; any thread may Interrupt. The descriptor
// is not owned and is not closed.
#pragma once

#include <atomic>
#include <string>

namespace halvyn {

class LineInput {
 public:
  enum class Status { kLine, kEnd, kInterrupted };

  explicit LineInput(int fd = 0);
  ~LineInput();
  LineInput(const LineInput&) = delete;
  LineInput& operator=(const LineInput&) = delete;

  // Blocks until a whole line is there (returned without its "\n" or "\r\n"),
  // the input ends (a last line without "\n" is still returned first as a
  // line), a read fails (reported as kEnd), or Interrupt() was called.
  Status ReadLine(std::string& line);

  // Makes the pending ReadLine and every later one return kInterrupted.
  void Interrupt();

 private:
  bool TakeLine(std::string& line);

  int fd_;
  int wakeFd_ = -1;  // eventfd written by Interrupt
  std::atomic<bool> interrupted_{false};
  bool ended_ = false;
  std::string pending_;  // bytes read but not yet returned
};

}  // namespace halvyn
