// halvyn's readiness as a systemd service (Type=notify): ready once the
// console listens and, with --start, the relay socket is bound. READY=1 is
// sent the first time both hold (a relay that could not be bound leaves the
// service starting until the operator starts it from the console, or the
// service manager's start timeout ends it); a STATUS line follows every start
// and stop of the relay server.
//
// Window thread only, except Stopping (any thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace halvyn {

class ServiceReadiness {
 public:
  // notify receives newline-separated assignments ("READY=1\nSTATUS=...").
  using Notify = std::function<void(std::string_view assignments)>;

  ServiceReadiness(bool waitForConsole, bool waitForRelay, Notify notify)
      : consoleListening_(!waitForConsole),
        waitForRelay_(waitForRelay),
        notify_(std::move(notify)) {}

  void ConsoleListening();
  // The relay server's state after a change of the window; port 0 when stopped.
  void RelayState(bool running, uint16_t port);
  // Shutdown has begun: STOPPING=1, once.
  void Stopping();

  bool ready() const { return ready_; }

 private:
  void Update();
  std::string StatusText() const;

  bool consoleListening_;
  bool waitForRelay_;
  Notify notify_;
  bool relayRunning_ = false;
  uint16_t relayPort_ = 0;
  bool ready_ = false;
  std::string lastStatus_;
  std::atomic<bool> stopping_{false};
};

}  // namespace halvyn
