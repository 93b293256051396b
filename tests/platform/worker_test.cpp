#include "platform/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/event.h"
#include "platform/message_queue.h"
#include "platform/readable_or_wakeup.h"

namespace halvyn {
namespace {

TEST(WorkerTest, StopWakesABlockedBodyThroughItsWakeAndJoinsIt) {
  ReadableOrWakeup wake;
  ManualResetEvent waiting;
  std::atomic<bool> sawStop{false};
  Worker worker;
  ASSERT_TRUE(worker.Start(
      [&](std::stop_token stop) {
        waiting.Set();
        while (!stop.stop_requested()) wake.WaitForWake(-1);  // no limit: only the wake ends it
        sawStop = true;
      },
      [&] { wake.Wake(); }));
  EXPECT_FALSE(worker.Start([](std::stop_token) {}));  // one thread at a time
  ASSERT_TRUE(waiting.WaitFor(2000));
  PlainStopWaiter waiter;
  EXPECT_TRUE(worker.Stop(waiter, -1));
  EXPECT_TRUE(sawStop);
  EXPECT_TRUE(worker.finished());
  EXPECT_FALSE(worker.started());
  // Joined: it may start again.
  EXPECT_TRUE(worker.Start([](std::stop_token) {}));
}

TEST(WorkerTest, WindowThreadStopServesTheSendEveryWorkerIsBlockedIn) {
  WindowMessageQueue queue;
  queue.BindToCurrentThread();  // this test's thread is the window thread
  std::atomic<int> served{0};
  Worker first;
  Worker second;
  const auto sendUntilStopped = [&](std::stop_token stop) {
    while (!stop.stop_requested()) queue.Send([&] { ++served; });
  };
  ASSERT_TRUE(first.Start(sendUntilStopped));
  ASSERT_TRUE(second.Start(sendUntilStopped));
  while (queue.pending() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  WindowQueueStopWaiter waiter(queue);
  EXPECT_TRUE(StopWorkers({&first, &second}, waiter, 5000));
  EXPECT_EQ(served.load(), 2);  // each blocked Send was run once, then the stop was seen
  EXPECT_FALSE(first.started());
  EXPECT_FALSE(second.started());
}

TEST(WorkerTest, PlainStopGivesUpOnABodyThatCannotSeeItsStop) {
  ManualResetEvent release;
  Worker worker;
  ASSERT_TRUE(worker.Start([&](std::stop_token) { release.Wait(); }));
  PlainStopWaiter waiter;
  EXPECT_FALSE(worker.Stop(waiter, 50));
  EXPECT_TRUE(worker.started());  // left running
  EXPECT_FALSE(worker.finished());
  release.Set();
  worker.Join();
  EXPECT_TRUE(worker.finished());
}

}  // namespace
}  // namespace halvyn
