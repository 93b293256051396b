#include "app/service_readiness.h"

namespace halvyn {

void ServiceReadiness::ConsoleListening() {
  consoleListening_ = true;
  Update();
}

void ServiceReadiness::RelayState(bool running, uint16_t port) {
  relayRunning_ = running;
  relayPort_ = running ? port : 0;
  Update();
}

void ServiceReadiness::Stopping() {
  if (stopping_.exchange(true)) return;
  notify_("STOPPING=1\nSTATUS=Shutting down");
}

std::string ServiceReadiness::StatusText() const {
  if (relayRunning_) return "Relay server running on UDP port " + std::to_string(relayPort_);
  return "Relay server stopped";
}

void ServiceReadiness::Update() {
  if (stopping_) return;
  const std::string status = StatusText();
  if (!ready_ && consoleListening_ && (relayRunning_ || !waitForRelay_)) {
    ready_ = true;
    lastStatus_ = status;
    notify_("READY=1\nSTATUS=" + status);
    return;
  }
  if (status == lastStatus_) return;
  lastStatus_ = status;
  notify_("STATUS=" + status);
}

}  // namespace halvyn
