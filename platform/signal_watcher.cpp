#include "platform/signal_watcher.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>

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
  signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  // Without the descriptor the signals keep their default action: they still end the process.
  if (signalFd_ < 0) return;
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  worker_.Start([this](std::stop_token stop) { Watch(stop); }, [this] { wake_.Wake(); });
}

SignalWatcher::~SignalWatcher() {
  worker_.RequestStop();
  worker_.Join();
  if (signalFd_ >= 0) ::close(signalFd_);
}

void SignalWatcher::Watch(const std::stop_token& stop) {
  while (!stop.stop_requested()) {
    const ReadableOrWakeup::Result waited = wake_.WaitOn(signalFd_, -1);
    if (waited == ReadableOrWakeup::Result::kError) return;
    if (waited != ReadableOrWakeup::Result::kReadable) continue;  // the stop's wake-up
    signalfd_siginfo info;
    // Non-blocking: reads every signal that is pending, then EAGAIN.
    while (::read(signalFd_, &info, sizeof info) == ssize_t(sizeof info)) {
      onSignal_(int(info.ssi_signo));
    }
  }
}

}  // namespace halvyn
