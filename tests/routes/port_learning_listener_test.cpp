#include "routes/port_learning_listener.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/tick_count.h"
#include "routes/port_learning_listeners.h"
#include "routes/route_counters.h"

namespace halvyn {
namespace {

const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);
// Only guards against a hang; every wait normally ends at once.
constexpr int kHangGuardMs = 5000;

struct Reports {
  void Add(uint16_t slotPort, uint16_t learntPort) {
    {
      std::lock_guard lock(mutex);
      received.push_back({slotPort, learntPort});
    }
    arrived.Set();
  }
  std::vector<std::pair<uint16_t, uint16_t>> Received() {
    std::lock_guard lock(mutex);
    return received;
  }
  PortLearnedReport Callback() {
    return [this](uint16_t slotPort, uint16_t learntPort) { Add(slotPort, learntPort); };
  }
  std::mutex mutex;
  std::vector<std::pair<uint16_t, uint16_t>> received;
  ManualResetEvent arrived;
};

std::vector<uint8_t> Datagram(size_t size, uint8_t letter) {
  std::vector<uint8_t> bytes(size, 0x41);
  if (size > 2) bytes[2] = letter;
  return bytes;
}

class ProbeSender {
 public:
  ProbeSender() { EXPECT_EQ(socket_.Bind({kLoopback, 0}), 0); }
  void Send(const std::vector<uint8_t>& datagram, Ipv4Endpoint to) {
    ASSERT_TRUE(socket_.SendTo(datagram, {kLoopback, to.port}));
  }
  uint16_t port() const { return socket_.LocalEndpoint().port; }

 private:
  UdpSocket socket_;
};

TEST(PortLearningListenerTest, SkipsShortAndOtherDatagramsThenReportsTheProbeSourcePort) {
  Reports reports;
  RouteCounters counters;
  int bindError = -1;
  auto listener =
      PortLearningListener::Start(14369, {kLoopback, 0}, reports.Callback(), counters, &bindError);
  ASSERT_TRUE(listener);
  EXPECT_EQ(bindError, 0);

  ProbeSender sender;
  sender.Send(Datagram(119, 'w'), listener->localEndpoint());
  sender.Send(Datagram(200, 'x'), listener->localEndpoint());
  sender.Send(Datagram(120, 'w'), listener->localEndpoint());  // bytes 0..1 are "AA"
  ASSERT_TRUE(reports.arrived.WaitFor(kHangGuardMs));
  listener->Join();

  EXPECT_TRUE(listener->finished());
  EXPECT_EQ(reports.Received(),
            (std::vector<std::pair<uint16_t, uint16_t>>{{14369, sender.port()}}));
}

TEST(PortLearningListenerTest, DatagramLargerThanTheBufferEndsItWithoutReport) {
  Reports reports;
  RouteCounters counters;
  auto listener =
      PortLearningListener::Start(14367, {kLoopback, 0}, reports.Callback(), counters, nullptr);
  ASSERT_TRUE(listener);
  ProbeSender sender;
  sender.Send(Datagram(513, 'w'), listener->localEndpoint());
  listener->Join();  // ends on its own
  EXPECT_TRUE(reports.Received().empty());
  EXPECT_EQ(counters.oversizedProbes.Value(), 1u);
}

TEST(PortLearningListenerTest, CloseEndsAWaitingListenerWithoutReport) {
  Reports reports;
  RouteCounters counters;
  auto listener =
      PortLearningListener::Start(14367, {kLoopback, 0}, reports.Callback(), counters, nullptr);
  ASSERT_TRUE(listener);
  listener->Close();
  listener->Join();
  EXPECT_TRUE(listener->finished());
  EXPECT_TRUE(reports.Received().empty());
}

class PortLearningListenersTest : public ::testing::Test {
 protected:
  std::vector<std::string> Messages() {
    std::lock_guard lock(mutex);
    return messages;
  }

  Reports reports;
  std::mutex mutex;
  std::vector<std::string> messages;
  Ipv4Endpoint bindAt{kLoopback, 0};
  RouteCounters counters;
  PortLearningListeners listeners{reports.Callback(),
                                  [this](std::string_view text) {
                                    std::lock_guard lock(mutex);
                                    messages.emplace_back(text);
                                  },
                                  counters, [this](uint16_t) { return bindAt; }};
};

TEST_F(PortLearningListenersTest, PortHeldByAnotherSocketShowsBindingFailure) {
  UdpSocket holder;
  ASSERT_EQ(holder.Bind({kLoopback, 0}), 0);
  bindAt = holder.LocalEndpoint();
  listeners.StartPortLearning(14367);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"binding ip failure."}));
  EXPECT_EQ(listeners.waiting(), 0u);
}

TEST_F(PortLearningListenersTest, EarlierListenerOfTheSlotServesTheNewRoute) {
  listeners.StartPortLearning(14368);
  const auto first = listeners.ListeningEndpoint(14368);
  ASSERT_TRUE(first);
  bindAt = *first;  // the same slot port again, still held by the first listener
  listeners.StartPortLearning(14368);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"binding ip failure."}));
  EXPECT_EQ(listeners.waiting(), 1u);

  ProbeSender sender;
  sender.Send(Datagram(120, 'w'), *first);
  ASSERT_TRUE(reports.arrived.WaitFor(kHangGuardMs));
  EXPECT_EQ(reports.Received(),
            (std::vector<std::pair<uint16_t, uint16_t>>{{14368, sender.port()}}));
}

TEST_F(PortLearningListenersTest, SlotPortIsFreeAgainOnceItsListenerHasReported) {
  listeners.StartPortLearning(14369);
  bindAt = *listeners.ListeningEndpoint(14369);
  ProbeSender sender;
  sender.Send(Datagram(120, 'w'), bindAt);
  ASSERT_TRUE(reports.arrived.WaitFor(kHangGuardMs));
  for (int i = 0; i < 500 && listeners.waiting() > 0; ++i) SleepMilliseconds(2);
  ASSERT_EQ(listeners.waiting(), 0u);

  listeners.StartPortLearning(14369);  // a new route in the same slot
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(listeners.ListeningEndpoint(14369), bindAt);
}

TEST_F(PortLearningListenersTest, CloseAllEndsEveryWaitingListenerAndRefusesNewOnes) {
  listeners.StartPortLearning(14367);
  listeners.StartPortLearning(14368);
  listeners.StartPortLearning(14369);
  EXPECT_EQ(listeners.waiting(), 3u);
  listeners.CloseAll();
  EXPECT_EQ(listeners.waiting(), 0u);
  listeners.StartPortLearning(14370);
  EXPECT_EQ(listeners.waiting(), 0u);
  EXPECT_FALSE(listeners.ListeningEndpoint(14367));
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(reports.Received().empty());
}

}  // namespace
}  // namespace halvyn
