#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace halvyn {
namespace {

TEST(WindowMessageQueue, SentAndPostedRunInOrderOnTheWindowThread) {
  WindowMessageQueue queue;
  std::thread::id windowThread;
  std::vector<int> order;
  std::thread window([&] {
    windowThread = std::this_thread::get_id();
    queue.Run();
  });
  queue.Post([&] { order.push_back(1); });
  std::thread::id ranOn;
  EXPECT_TRUE(queue.Send([&] {
    order.push_back(2);
    ranOn = std::this_thread::get_id();
  }));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));  // the post ran before the send returned
  EXPECT_EQ(ranOn, windowThread);
  queue.Post([&] { queue.End(); });
  window.join();
}

TEST(WindowMessageQueue, IdleHandlerRunsOnceEachTimeTheQueueRunsEmpty) {
  WindowMessageQueue queue;
  std::vector<std::string> order;
  int idles = 0;
  queue.SetIdleHandler([&] {
    order.push_back("idle");
    if (++idles == 1) queue.Post([&] { order.push_back("d"); });  // another burst
    if (idles == 2) queue.End();
  });
  for (const char* name : {"a", "b", "c"}) queue.Post([&order, name] { order.push_back(name); });
  queue.Run();
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "idle", "d", "idle"}));
}

TEST(WindowMessageQueue, AfterEndSendAndPostReturnAtOnceWithoutRunning) {
  WindowMessageQueue queue;
  std::thread window([&] { queue.Run(); });
  queue.Send([&] { queue.End(); });
  window.join();
  bool ran = false;
  EXPECT_FALSE(queue.Send([&] { ran = true; }));
  EXPECT_FALSE(queue.Post([&] { ran = true; }));
  EXPECT_FALSE(ran);
}

TEST(WindowMessageQueue, EndReleasesASenderWaitingBehindIt) {
  WindowMessageQueue queue;
  queue.BindToCurrentThread();
  std::atomic<int> result{-1};
  std::thread worker([&] { result = queue.Send([] {}) ? 1 : 0; });
  while (queue.pending() == 0) std::this_thread::yield();
  queue.End();
  worker.join();
  EXPECT_EQ(result, 0);
}

TEST(WindowMessageQueue, WaitPumpingSentRunsSentMessagesButNotPostedOnes) {
  WindowMessageQueue queue;
  queue.BindToCurrentThread();
  bool posted = false;
  std::atomic<bool> workerDone{false};
  queue.Post([&] { posted = true; });
  std::thread worker([&] {
    queue.Send([] {});
    workerDone = true;
    queue.Wake();
  });
  EXPECT_TRUE(queue.WaitPumpingSent([&] { return workerDone.load(); }, 5000));
  worker.join();
  EXPECT_FALSE(posted);
  EXPECT_EQ(queue.pending(), 1u);
  EXPECT_FALSE(queue.WaitPumpingSent([] { return false; }, 20));  // times out
}

// A worker may finish, and Wake, just after the condition was checked and
// before the wait begins: the wait must still end (without a limit it would
// otherwise hang for good, as Stop did).
TEST(WindowMessageQueue, WaitPumpingSentSeesAWakeRightAfterItsCheck) {
  WindowMessageQueue queue;
  queue.BindToCurrentThread();
  bool finished = false;
  int checks = 0;
  const auto done = [&] {
    ++checks;
    if (finished) return true;
    finished = true;  // the worker finishes between this answer and the wait
    queue.Wake();
    return false;
  };
  EXPECT_TRUE(queue.WaitPumpingSent(done, -1));
  EXPECT_EQ(checks, 2);
}

TEST(WindowMessageQueue, SendFromTheWindowThreadRunsInline) {
  WindowMessageQueue queue;
  queue.BindToCurrentThread();
  bool ran = false;
  EXPECT_TRUE(queue.Send([&] { ran = true; }));
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace halvyn

namespace halvyn {
namespace {

TEST(WindowMessageQueue, HeldPostsEnterTogetherAtReleaseInOrder) {
  WindowMessageQueue queue;
  queue.BindToCurrentThread();
  std::vector<int> order;
  std::thread worker([&] {
    HeldWakes held(&queue);
    queue.Post([&] { order.push_back(1); });
    queue.Post([&] { order.push_back(2); });
    EXPECT_EQ(queue.pending(), 0u);  // still on the worker
  });
  worker.join();
  EXPECT_EQ(queue.pending(), 2u);
  queue.Post([&] { order.push_back(3); });
  queue.Post([&] { queue.End(); });
  queue.Run();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(WindowMessageQueue, ASendWhileHoldingRunsAfterTheHeldPosts) {
  WindowMessageQueue queue;
  std::thread window([&] { queue.Run(); });
  std::vector<int> order;
  {
    HeldWakes held(&queue);
    queue.Post([&] { order.push_back(1); });
    EXPECT_TRUE(queue.Send([&] { order.push_back(2); }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    queue.Post([&] { order.push_back(3); });
  }
  queue.Send([&] { queue.End(); });
  window.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(WindowMessageQueue, HeldPostsAfterEndAreRefusedAndDropped) {
  WindowMessageQueue queue;
  queue.BindToCurrentThread();
  bool ran = false;
  std::thread worker([&] {
    HeldWakes held(&queue);
    EXPECT_TRUE(queue.Post([&] { ran = true; }));
    queue.End();  // the window ends while the post is still held
    EXPECT_FALSE(queue.Post([&] { ran = true; }));
  });
  worker.join();
  EXPECT_EQ(queue.pending(), 0u);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace halvyn
