#include "platform/signal_watcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <mutex>
#include <vector>

#include "platform/event.h"

namespace halvyn {
namespace {

// Each test runs in a process of its own (gtest_discover_tests), so the
// signals the watcher blocks stay blocked in this process only.
TEST(SignalWatcherTest, EachProcessSignalReachesTheCallbackWithItsNumber) {
  std::mutex mutex;
  std::vector<int> received;
  ManualResetEvent got;
  const auto receivedNow = [&] {
    std::lock_guard lock(mutex);
    return received;
  };
  {
    SignalWatcher watcher([&](int signal) {
      std::lock_guard lock(mutex);
      received.push_back(signal);
      got.Set();
    });
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    ASSERT_TRUE(got.WaitFor(5000));
    got.Reset();
    ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    ASSERT_TRUE(got.WaitFor(5000));
  }  // the destructor's stop ends the watcher's wait
  EXPECT_EQ(receivedNow(), (std::vector<int>{SIGTERM, SIGINT}));
}

}  // namespace
}  // namespace halvyn
