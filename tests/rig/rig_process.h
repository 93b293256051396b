// Child processes for tests: run a command to its end, or keep one running
// (a simulator inside a network namespace) and end it by its PID.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace halvyn::testing::rig {

struct CommandResult {
  int exitCode = -1;   // -1 when it could not be started, was killed or timed out
  std::string output;  // stdout and stderr together
};

// Runs argv (argv[0] looked up in PATH) and waits at most timeoutMs for it;
// a command still running then is killed.
CommandResult RunCommand(const std::vector<std::string>& argv, int timeoutMs = 15000);

// A started process whose stdout and stderr go to outputFile and whose stdin
// reads inputFile (/dev/null unless given; a FIFO lets a test feed it lines).
// The destructor ends it (SIGTERM, then SIGKILL after 2 s) if it still runs.
class RigProcess {
 public:
  RigProcess(const std::vector<std::string>& argv, std::string outputFile,
             const std::string& inputFile = "/dev/null");
  ~RigProcess();
  RigProcess(const RigProcess&) = delete;
  RigProcess& operator=(const RigProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Everything it has printed so far.
  std::string Output() const;
  // Waits until its output contains needle; false on timeout or when it ended first.
  bool WaitForOutput(const std::string& needle, int timeoutMs);
  // Sends a signal to it (by PID) while it runs.
  bool Signal(int signal) const;
  // Sends SIGTERM and waits up to timeoutMs; returns the exit code, -1 when it
  // was killed by a signal or did not end (it is then killed).
  int Terminate(int timeoutMs = 2000);
  // Waits up to timeoutMs for it to end by itself; the exit code or -1.
  int Wait(int timeoutMs);
  bool Running();

 private:
  pid_t pid_ = -1;
  int status_ = 0;
  bool reaped_ = false;
  std::string outputFile_;
};

}  // namespace halvyn::testing::rig
