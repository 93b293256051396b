// The listener on loopback: an ephemeral port and membership on 127.0.0.1,
// so nothing leaves the machine and parallel runs do not collide.
#include "devicelink/device_discovery_listener.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/event.h"
#include "platform/message_queue.h"
#include "platform/udp_socket.h"

namespace halvyn {
namespace {

using Clock = std::chrono::steady_clock;
using ::testing::ElementsAre;

const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);

uint16_t FreeLoopbackPort() {
  UdpSocket probe;
  probe.Bind({kLoopback, 0});
  return probe.LocalEndpoint().port;
}

DiscoveryListenerConfig LoopbackConfig(uint16_t port) {
  DiscoveryListenerConfig config;
  config.interfaceAddress = kLoopback;
  config.port = port;
  return config;
}

// Ends the window's queue when the test leaves, before the listener is
// destroyed: a listener still blocked in Send is then released, so a broken
// Stop fails the test instead of hanging it.
struct EndQueueOnExit {
  WindowMessageQueue& queue;
  ~EndQueueOnExit() { queue.End(); }
};

long ElapsedMs(Clock::time_point since) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Sends small datagrams to the listener until done() holds or 3 s pass; the
// listener binds on its own thread, so the first ones may find no socket yet.
bool SendUntil(const UdpSocket& sender, uint16_t port, const std::function<bool()>& done) {
  const uint8_t datagram[] = {1, 2, 3, 4, 5};
  const auto start = Clock::now();
  while (!done()) {
    if (ElapsedMs(start) > 3000) return false;
    sender.SendTo(datagram, {kLoopback, port});
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST(DeviceDiscoveryListenerTest, HandsEachDatagramAndItsSourceToTheCallback) {
  const uint16_t port = FreeLoopbackPort();
  std::mutex mutex;
  std::vector<uint8_t> received;
  Ipv4Endpoint source;
  ManualResetEvent got;
  DiscoveryListenerCallbacks callbacks;
  callbacks.onDatagram = [&](Ipv4Endpoint from, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex);
    received.assign(bytes.begin(), bytes.end());
    source = from;
    got.Set();
    return true;
  };
  DeviceDiscoveryListener listener(LoopbackConfig(port), callbacks);
  ASSERT_TRUE(listener.Start());
  UdpSocket sender;
  ASSERT_EQ(sender.Bind({kLoopback, 0}), 0);
  ASSERT_TRUE(SendUntil(sender, port, [&] { return got.IsSet(); }));
  {
    std::lock_guard lock(mutex);
    EXPECT_THAT(received, ElementsAre(1, 2, 3, 4, 5));
    EXPECT_EQ(source, sender.LocalEndpoint());
  }
  EXPECT_TRUE(listener.Stop());
  EXPECT_FALSE(listener.running());
}

TEST(DeviceDiscoveryListenerTest, WindowThreadStopsAListenerBlockedHandingItANotice) {
  const uint16_t port = FreeLoopbackPort();
  WindowMessageQueue queue;
  queue.BindToCurrentThread();  // this test's thread is the window thread
  std::atomic<int> handled{0};
  DiscoveryListenerCallbacks callbacks;
  callbacks.onDatagram = [&](Ipv4Endpoint, std::span<const uint8_t>) {
    return queue.Send([&] { ++handled; });
  };
  DeviceDiscoveryListener listener(LoopbackConfig(port), callbacks);
  EndQueueOnExit endQueue{queue};
  ASSERT_TRUE(listener.Start());
  UdpSocket sender;
  // The window thread does not serve its queue, so the listener blocks in Send.
  ASSERT_TRUE(SendUntil(sender, port, [&] { return queue.pending() > 0; }));

  WindowQueueStopWaiter waiter(queue);
  EXPECT_TRUE(listener.Stop(waiter));  // false would mean it gave up after 2000 ms
  EXPECT_FALSE(listener.running());
  EXPECT_EQ(handled.load(), 1);  // the pending notice was served during the wait
}

TEST(DeviceDiscoveryListenerTest, StopWithoutServingGivesUpAfterTheLimitAndEndingTheWindowFreesIt) {
  const uint16_t port = FreeLoopbackPort();
  WindowMessageQueue queue;
  queue.BindToCurrentThread();
  DiscoveryListenerCallbacks callbacks;
  callbacks.onDatagram = [&](Ipv4Endpoint, std::span<const uint8_t>) { return queue.Send([] {}); };
  auto listener = std::make_unique<DeviceDiscoveryListener>(LoopbackConfig(port), callbacks);
  EndQueueOnExit endQueue{queue};
  ASSERT_TRUE(listener->Start());
  UdpSocket sender;
  ASSERT_TRUE(SendUntil(sender, port, [&] { return queue.pending() > 0; }));

  const auto start = Clock::now();
  EXPECT_FALSE(listener->Stop());  // a plain wait serves nothing: the listener stays blocked
  EXPECT_GE(ElapsedMs(start), 1900);
  EXPECT_TRUE(listener->running());

  queue.End();  // Send returns false, the listener sees the window has gone
  EXPECT_TRUE(listener->Stop());
  EXPECT_FALSE(listener->running());
  listener.reset();
}

TEST(DeviceDiscoveryListenerTest, CallbackReportingAnEndedWindowEndsTheListener) {
  const uint16_t port = FreeLoopbackPort();
  WindowMessageQueue queue;
  queue.End();
  std::atomic<int> calls{0};
  DiscoveryListenerCallbacks callbacks;
  callbacks.onDatagram = [&](Ipv4Endpoint, std::span<const uint8_t>) {
    ++calls;
    return queue.Send([] {});
  };
  DeviceDiscoveryListener listener(LoopbackConfig(port), callbacks);
  ASSERT_TRUE(listener.Start());
  UdpSocket sender;
  ASSERT_TRUE(SendUntil(sender, port, [&] { return !listener.running(); }));
  EXPECT_EQ(calls.load(), 1);
  EXPECT_TRUE(listener.Stop());
}

TEST(DeviceDiscoveryListenerTest, ClosingWhileAnnouncementsKeepArrivingEndsTheListener) {
  const uint16_t port = FreeLoopbackPort();
  WindowMessageQueue queue;
  std::atomic<int> handled{0};
  DiscoveryListenerCallbacks callbacks;
  callbacks.onDatagram = [&](Ipv4Endpoint, std::span<const uint8_t>) {
    return queue.Send([&] { ++handled; });
  };
  DeviceDiscoveryListener listener(LoopbackConfig(port), callbacks);
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    UdpSocket socket;
    const uint8_t datagram[88] = {};
    for (int i = 0; i < 5000 && sending; ++i) {
      socket.SendTo(datagram, {kLoopback, port});
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  std::thread window([&] { queue.Run(); });
  EXPECT_TRUE(listener.Start());
  const auto start = Clock::now();
  while (handled.load() < 20 && ElapsedMs(start) < 3000)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GE(handled.load(), 20);

  ManualResetEvent closed;
  bool ended = false;
  queue.Post([&] {
    WindowQueueStopWaiter waiter(queue);
    ended = listener.Stop(waiter);
    queue.End();
    closed.Set();
  });
  window.join();
  sending = false;
  sender.join();
  EXPECT_TRUE(closed.IsSet());
  EXPECT_TRUE(ended);
  EXPECT_FALSE(listener.running());
}

struct ErrorRecorder {
  std::mutex mutex;
  std::vector<std::string> events;
  ManualResetEvent done;
  DiscoveryListenerCallbacks Callbacks() {
    DiscoveryListenerCallbacks callbacks;
    callbacks.onDatagram = [this](Ipv4Endpoint, std::span<const uint8_t>) {
      Add("datagram");
      return true;
    };
    callbacks.onNotice = [this](int code, const std::string& text) {
      Add("notice " + std::to_string(code) + " " + text);
    };
    callbacks.showMessage = [this](const std::string& text) { Add("message " + text); };
    return callbacks;
  }
  void Add(const std::string& event) {
    std::lock_guard lock(mutex);
    events.push_back(event);
  }
};

TEST(DeviceDiscoveryListenerTest, PortTakenShowsMulticastBindFailedWithTheErrorNumber) {
  UdpSocket occupant;  // without SO_REUSEADDR: the listener cannot share the port
  ASSERT_EQ(occupant.Bind({kLoopback, 0}), 0);
  ErrorRecorder recorder;
  DeviceDiscoveryListener listener(LoopbackConfig(occupant.LocalEndpoint().port),
                                   recorder.Callbacks());
  ASSERT_TRUE(listener.Start());
  EXPECT_TRUE(listener.Stop());
  EXPECT_THAT(recorder.events, ElementsAre("message Multicast bind failed:98"));  // EADDRINUSE
}

TEST(DeviceDiscoveryListenerTest, FailedJoinShowsJoinGroupFailedThenSendsTheNotice) {
  DiscoveryListenerConfig config = LoopbackConfig(FreeLoopbackPort());
  config.group = NetworkAddress(127, 0, 0, 2);  // not a multicast group: the join fails
  ErrorRecorder recorder;
  DeviceDiscoveryListener listener(config, recorder.Callbacks());
  ASSERT_TRUE(listener.Start());
  const auto start = Clock::now();
  while (listener.running() && ElapsedMs(start) < 3000)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(listener.running());  // ended by itself, for good
  UdpSocket sender;
  const uint8_t datagram[] = {1};
  sender.SendTo(datagram, {kLoopback, config.port});
  EXPECT_TRUE(listener.Stop());
  EXPECT_THAT(recorder.events,
              ElementsAre("message JoinGroup failed", "notice -1 JoinGroup failed!\n"));
}

}  // namespace
}  // namespace halvyn
