// A real STUN server for the tests: Debian coturn's turnserver in STUN-only
// mode, listening on one UDP address of the test's own network namespace.
// It reads no configuration file and writes only into a temporary folder of
// its own (pid file, user database, output), which goes with it. The
// destructor ends it by its PID (SIGTERM, then SIGKILL).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/ipv4.h"

namespace halvyn::testing {

class StunServerProcess {
 public:
  // Starts turnserver on listen (address and port). started() says whether
  // the program could be run at all.
  explicit StunServerProcess(Ipv4Endpoint listen);
  ~StunServerProcess();
  StunServerProcess(const StunServerProcess&) = delete;
  StunServerProcess& operator=(const StunServerProcess&) = delete;

  bool started() const { return pid_ > 0; }

  // Sends Binding Requests from a socket of the test until one is answered
  // with a Binding Success Response; false if none came in time.
  bool WaitUntilAnswering(std::chrono::milliseconds timeout = std::chrono::seconds(20));

  // What turnserver printed, for failure messages.
  std::string Output() const;

 private:
  Ipv4Endpoint listen_;
  std::filesystem::path dir_;
  pid_t pid_ = -1;
};

}  // namespace halvyn::testing
