#include "platform/signal_watcher.h"

#include <csignal>
#include <ctime>

namespace halvyn {

namespace {

sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
  const sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  thread_ = std::thread([this, set] {
    // Wakes every 200 ms to notice the destructor's stop.
    const timespec pollInterval{0, 200 * 1000 * 1000};
    while (!stop_.load()) {
      const int signal = sigtimedwait(&set, nullptr, &pollInterval);
      if (signal > 0) onSignal_(signal);
    }
  });
}

SignalWatcher::~SignalWatcher() {
  stop_.store(true);
  thread_.join();
}

}  // namespace halvyn
