#include "relay/relay_receive_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "tests/support/fake_clock.h"
#include "tests/support/recording_notices.h"
#include "tests/support/relay_datagrams.h"

namespace halvyn {
namespace {

using testing::ConnectRequest;
using testing::NamedRecord;
using testing::RecordForm;

const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);

std::string Name(int i) {
  return "n" + std::to_string(100 + i);
}

struct ReceiveLoopTest : ::testing::Test {
  ReceiveLoopTest() {
    EXPECT_EQ(relay.Bind({kLoopback, 0}), 0);
    EXPECT_EQ(client.Bind({kLoopback, 0}), 0);
    EXPECT_EQ(client.SetReceiveBufferSize(1 << 20), 0);
  }
  std::vector<uint8_t> Next() {
    std::vector<uint8_t> buffer(70000);
    if (!client.WaitReadable(2000)) return {};
    buffer.resize(client.Receive(buffer).size);
    return buffer;
  }

  UdpSocket relay, client;
  ClientTable table;
  Mutex lock;
  testing::RecordingNotices notices;
  testing::FakeClock clock;
};

// More datagrams than one batch, all waiting before the loop starts: each is
// handled completely (its "g" and its "h" to everyone) before the next.
TEST_F(ReceiveLoopTest, WaitingDatagramsAreHandledOneAfterTheOtherInArrivalOrder) {
  constexpr int kLogins = int(kReceiveBatchSize) + 8;
  std::vector<std::unique_ptr<UdpSocket>> clients;
  for (int i = 0; i < kLogins; ++i) {
    clients.push_back(std::make_unique<UdpSocket>());
    ASSERT_EQ(clients.back()->Bind({kLoopback, 0}), 0);
    ASSERT_EQ(clients.back()->SetReceiveBufferSize(1 << 20), 0);
    ASSERT_TRUE(
        clients.back()->SendTo(RecordForm('e', NamedRecord(Name(i))), relay.LocalEndpoint()));
  }
  RelayCounters counters;
  RelayDispatcher dispatcher(table, lock, relay, notices, nullptr, clock, counters);
  std::thread loop([&] { RelayReceiveLoop(relay, dispatcher); });
  auto next = [](UdpSocket& socket) {
    std::vector<uint8_t> buffer(70000);
    if (!socket.WaitReadable(2000)) return std::vector<uint8_t>{};
    buffer.resize(socket.Receive(buffer).size);
    return buffer;
  };
  // The first client sees its "g", then one list per login, each one longer.
  EXPECT_EQ(next(*clients[0]).at(2), 'g');
  for (int i = 0; i < kLogins; ++i) {
    const auto list = next(*clients[0]);
    ASSERT_EQ(list.size(), size_t(i + 1) * 120);
    EXPECT_EQ(list[2], 'h');
  }
  // Every client got its "g" before any list.
  for (int i = 1; i < kLogins; ++i) {
    const auto accepted = next(*clients[size_t(i)]);
    ASSERT_EQ(accepted.size(), 120u);
    EXPECT_EQ(accepted[2], 'g');
    EXPECT_EQ(ClientRecord::At(accepted, 4).value().name(), Name(i));
  }
  relay.Close();
  loop.join();
  const auto seen = notices.Take();
  ASSERT_EQ(seen.size(), size_t(kLogins));
  for (int i = 0; i < kLogins; ++i) EXPECT_EQ(seen[size_t(i)].record.name(), Name(i));
}

// Notices that the window runs: posted ones through the queue.
class WindowNotices final : public RelayNotices {
 public:
  explicit WindowNotices(WindowMessageQueue& window) : window_(window) {}
  void SendClientLogin(const ClientRecord& r) override {
    window_.Send([this, name = std::string(r.name())] { seen.push_back("login " + name); });
  }
  void SendClientLogout(const ClientRecord&) override {}
  void PostClientTimeout(const ClientRecord&) override {}
  void PostForwardConnect() override {
    window_.Post([this] { seen.push_back("connect " + std::to_string(++connects_)); });
  }
  void SendClientInfo(const ClientRecord&) override {}
  std::vector<std::string> seen;  // window thread only

 private:
  WindowMessageQueue& window_;
  int connects_ = 0;
};

TEST_F(ReceiveLoopTest, PostedAndSentNoticesOfABatchReachTheWindowInOrder) {
  WindowMessageQueue window;
  WindowNotices windowNotices(window);
  std::thread windowThread([&] { window.Run(); });
  ASSERT_TRUE(client.SendTo(RecordForm('e', NamedRecord("alpha")), relay.LocalEndpoint()));
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(
        client.SendTo(ConnectRequest(NamedRecord("alpha"), "alpha"), relay.LocalEndpoint()));
  ASSERT_TRUE(client.SendTo(RecordForm('e', NamedRecord("beta")), relay.LocalEndpoint()));
  ASSERT_TRUE(client.SendTo(ConnectRequest(NamedRecord("alpha"), "alpha"), relay.LocalEndpoint()));
  RelayCounters counters;
  RelayDispatcher dispatcher(table, lock, relay, windowNotices, nullptr, clock, counters);
  std::thread loop([&] { RelayReceiveLoop(relay, dispatcher, &window); });
  // g, h, three forwards, g, h, h... wait for the last forward to come back.
  int forwards = 0;
  for (int i = 0; i < 12 && forwards < 4; ++i) {
    const auto datagram = Next();
    ASSERT_FALSE(datagram.empty());
    forwards += datagram.size() == 120 && datagram[2] == 'p';
  }
  relay.Close();
  loop.join();  // the batch's held posts are queued when the loop ends
  std::vector<std::string> seen;
  window.Send([&] { seen = windowNotices.seen; });
  window.Send([&] { window.End(); });
  windowThread.join();
  EXPECT_EQ(seen, (std::vector<std::string>{"login alpha", "connect 1", "connect 2", "connect 3",
                                            "login beta", "connect 4"}));
}

}  // namespace
}  // namespace halvyn
