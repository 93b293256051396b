#include "relay/relay_server.h"

#include <gtest/gtest.h>

#include "platform/udp_socket.h"
#include "tests/support/recording_notices.h"
#include "tests/support/relay_datagrams.h"

namespace halvyn {
namespace {

using testing::NamedRecord;
using testing::RecordForm;

const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);

struct RelayServerTest : ::testing::Test {
  RelayServerTest() { window.BindToCurrentThread(); }
  ClientTable table;
  testing::RecordingNotices notices;
  MonotonicTickClock clock;
  WindowMessageQueue window;
  RelayCounters counters;
};

std::vector<uint8_t> ReceiveOne(UdpSocket& socket) {
  std::vector<uint8_t> buffer(70000);
  if (!socket.WaitReadable(2000)) return {};
  auto result = socket.Receive(buffer);
  buffer.resize(result.size);
  return buffer;
}

TEST_F(RelayServerTest, StartStopStartKeepsTheClientsAndServesAgain) {
  RelayServer server(table, notices, nullptr, clock, window, counters);
  ASSERT_EQ(server.Start(0), 0);
  const uint16_t port = server.boundPort();
  UdpSocket client;
  ASSERT_EQ(client.Bind({kLoopback, 0}), 0);
  client.SendTo(RecordForm('e', NamedRecord("alpha")), {kLoopback, port});
  EXPECT_EQ(ReceiveOne(client).at(2), 'g');
  EXPECT_EQ(ReceiveOne(client).at(2), 'h');
  server.Stop();
  EXPECT_FALSE(server.running());
  EXPECT_EQ(table.count(), 1);

  ASSERT_EQ(server.Start(port), 0);  // the port is free again at once
  client.SendTo(RecordForm('e', NamedRecord("beta")), {kLoopback, port});
  EXPECT_EQ(ReceiveOne(client).at(2), 'g');
  auto list = ReceiveOne(client);
  EXPECT_EQ(list.size(), 240u);  // alpha survived the Stop
  server.Stop();
}

TEST_F(RelayServerTest, BindFailureReportsAddressInUseAndLeavesItStopped) {
  UdpSocket holder;
  ASSERT_EQ(holder.Bind({0, 0}), 0);
  RelayServer server(table, notices, nullptr, clock, window, counters);
  EXPECT_EQ(server.Start(holder.LocalEndpoint().port), EADDRINUSE);
  EXPECT_FALSE(server.running());
}

TEST_F(RelayServerTest, StopServesANoticeTheReceiveThreadIsWaitingIn) {
  // The notices go through the window queue and only the test thread (the
  // window thread) can serve them: Stop must keep serving while it waits.
  struct QueuedNotices final : RelayNotices {
    explicit QueuedNotices(WindowMessageQueue& w) : window(w) {}
    void SendClientLogin(const ClientRecord&) override {
      window.Send([this] { ++logins; });
    }
    void SendClientLogout(const ClientRecord&) override {}
    void PostClientTimeout(const ClientRecord&) override {}
    void PostForwardConnect() override {}
    void SendClientInfo(const ClientRecord&) override {}
    WindowMessageQueue& window;
    int logins = 0;
  } queued(window);
  RelayServer server(table, queued, nullptr, clock, window, counters);
  ASSERT_EQ(server.Start(0), 0);
  UdpSocket client;
  client.SendTo(RecordForm('e', NamedRecord("alpha")), {kLoopback, server.boundPort()});
  // Wait until the receive thread is blocked in its Send.
  for (int i = 0; i < 200 && window.pending() == 0; ++i) SleepMilliseconds(5);
  ASSERT_EQ(window.pending(), 1u);
  server.Stop();
  EXPECT_EQ(queued.logins, 1);
}

}  // namespace
}  // namespace halvyn
