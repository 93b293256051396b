#include "platform/socket_readable_notifier.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
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

// Points the socket's default peer at endpoint: from then on it hears of
// ICMP errors its datagrams draw, and takes datagrams from that peer only.
int ConnectTo(const UdpSocket& socket, Ipv4Endpoint endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = endpoint.address;
  address.sin_port = htons(endpoint.port);
  return ::connect(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address);
}

TEST(SocketReadableNotifierTest, PendingSocketErrorIsOneNoticeAndDatagramsStillFollow) {
  UdpSocket socket;
  ASSERT_EQ(socket.Bind({kLoopback, 0}), 0);
  Ipv4Endpoint closed;
  {
    UdpSocket gone;
    ASSERT_EQ(gone.Bind({kLoopback, 0}), 0);
    closed = gone.LocalEndpoint();
  }
  // The ICMP port unreachable its datagram draws leaves an ECONNREFUSED
  // waiting on the socket, which poll reports as an event.
  ASSERT_EQ(ConnectTo(socket, closed), 0);
  const uint8_t datagram[] = {0x01, 0x01};
  ASSERT_TRUE(socket.SendTo(datagram, closed));

  std::atomic<int> notices{0};
  SocketReadableNotifier notifier(socket, [&] { ++notices; });
  ASSERT_TRUE(notifier.Start());
  ASSERT_TRUE(WaitForCount(notices, 1));
  uint8_t buffer[16];
  const ReceiveResult failed = socket.ReceiveNow(buffer);
  EXPECT_EQ(failed.status, ReceiveResult::Status::kError);
  EXPECT_EQ(failed.error, ECONNREFUSED);
  notifier.Rearm();
  // The read took the error: no further notice, no spinning.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(notices.load(), 1);

  // The peer comes back and sends: that is noticed and read as usual.
  UdpSocket sender;
  ASSERT_EQ(sender.Bind(closed), 0);
  ASSERT_TRUE(sender.SendTo(datagram, socket.LocalEndpoint()));
  ASSERT_TRUE(WaitForCount(notices, 2));
  EXPECT_EQ(socket.ReceiveNow(buffer).status, ReceiveResult::Status::kDatagram);
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
