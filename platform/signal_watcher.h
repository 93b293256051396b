// Turns SIGINT and SIGTERM into a callback on a thread of its own.
//
// Construct it in main before any other thread starts: it blocks both signals
// for the process, so they reach only its thread. The destructor stops and
// joins that thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace halvyn {

class SignalWatcher {
 public:
  explicit SignalWatcher(std::function<void(int signal)> onSignal);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  std::function<void(int)> onSignal_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace halvyn
