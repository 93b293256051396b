// Runs the real halvyn-client for a test: lines written to its standard input,
// its standard output kept in a file and read back line by line. The
// destructor ends it (closing its input, then SIGTERM, then SIGKILL) by PID.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace halvyn::testing {

class ClientProcess {
 public:
  explicit ClientProcess(const std::vector<std::string>& args);
  ~ClientProcess();
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  bool started() const { return pid_ > 0; }

  // Writes one command line to its standard input.
  void Send(const std::string& line);
  // Ends its standard input (it exits at the end of input).
  void CloseInput();

  std::vector<std::string> Lines() const;
  // The first line that starts with prefix, waiting up to timeoutMs for it.
  std::optional<std::string> WaitForLine(const std::string& prefix, int timeoutMs = 3000) const;
  // The local port from its "ready local=IP:PORT ..." line; 0 if it never came.
  uint16_t WaitForReadyPort(int timeoutMs = 3000) const;

  // Its exit status, or nothing if it did not end within the time.
  std::optional<int> WaitForExit(int timeoutMs);
  void Signal(int signal);

 private:
  pid_t pid_ = -1;
  int input_ = -1;  // write end of its stdin pipe
  std::string outputFile_;
  std::optional<int> exitStatus_;
};

}  // namespace halvyn::testing
