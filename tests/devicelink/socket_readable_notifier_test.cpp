#include "platform/socket_readable_notifier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/udp_socket.h"

namespace halvyn {
namespace {

const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);

bool WaitForCount(const std::atomic<int>& count, int expected) {
  for (int i = 0; i < 300 && count.load() < expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return count.load() >= expected;
}

TEST(SocketReadableNotifierTest, NotifiesOncePerReadUntilTheSocketIsEmpty) {
  UdpSocket socket;
  ASSERT_EQ(socket.Bind({kLoopback, 0}), 0);
  std::atomic<int> notices{0};
  SocketReadableNotifier notifier(socket, [&] { ++notices; });
  ASSERT_TRUE(notifier.Start());

  UdpSocket sender;
  const uint8_t datagram[] = {0x01, 0x01};
  sender.SendTo(datagram, socket.LocalEndpoint());
  sender.SendTo(datagram, socket.LocalEndpoint());
  ASSERT_TRUE(WaitForCount(notices, 1));
  // Not re-armed yet: two datagrams wait, but no second notice comes.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(notices.load(), 1);

  uint8_t buffer[16];
  ASSERT_EQ(socket.ReceiveNow(buffer).status, ReceiveResult::Status::kDatagram);
  notifier.Rearm();
  ASSERT_TRUE(WaitForCount(notices, 2));  // one datagram still waits

  ASSERT_EQ(socket.ReceiveNow(buffer).status, ReceiveResult::Status::kDatagram);
  notifier.Rearm();
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(notices.load(), 2);  // empty socket: nothing to tell

  sender.SendTo(datagram, socket.LocalEndpoint());
  EXPECT_TRUE(WaitForCount(notices, 3));
  notifier.Stop();
  EXPECT_FALSE(notifier.running());
}

TEST(SocketReadableNotifierTest, StopEndsAnIdleOrUnarmedNotifier) {
  UdpSocket socket;
  ASSERT_EQ(socket.Bind({kLoopback, 0}), 0);
  std::atomic<int> notices{0};
  {
    SocketReadableNotifier idle(socket, [&] { ++notices; });
    ASSERT_TRUE(idle.Start());
    EXPECT_FALSE(idle.Start());
    idle.Stop();
    EXPECT_FALSE(idle.running());
  }
  SocketReadableNotifier unarmed(socket, [&] { ++notices; });
  ASSERT_TRUE(unarmed.Start());
  UdpSocket sender;
  const uint8_t datagram[] = {1};
  sender.SendTo(datagram, socket.LocalEndpoint());
  ASSERT_TRUE(WaitForCount(notices, 1));
  unarmed.Stop();  // waiting for Rearm: the stop still reaches it
  EXPECT_FALSE(unarmed.running());
}

}  // namespace
}  // namespace halvyn
