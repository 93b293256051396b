// Turns SIGINT and SIGTERM into a callback on a thread of its own.
//
// Construct it in main before any other thread starts: it blocks both signals
// for the process, so they reach only its signalfd, which its thread waits on.
// The destructor stops and joins that thread.
#pragma once

#include <functional>
#include <stop_token>

#include "platform/readable_or_wakeup.h"
#include "platform/worker.h"

namespace halvyn {

class SignalWatcher {
 public:
  // onSignal runs on the watcher's thread, once per signal received.
  explicit SignalWatcher(std::function<void(int signal)> onSignal);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void Watch(const std::stop_token& stop);

  std::function<void(int)> onSignal_;
  int signalFd_ = -1;
  ReadableOrWakeup wake_;  // the stop's wake-up
  Worker worker_;
};

}  // namespace halvyn
