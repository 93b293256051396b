#include "platform/udp_socket.h"

#include <gtest/gtest.h>

#include <thread>

namespace halvyn {
namespace {

const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);

TEST(UdpSocket, CloseWakesABlockedReceive) {
  UdpSocket socket;
  ASSERT_EQ(socket.Bind({kLoopback, 0}), 0);
  ReceiveResult result;
  std::thread receiver([&] {
    uint8_t buffer[64];
    result = socket.Receive(buffer);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  socket.Close();
  receiver.join();
  EXPECT_EQ(result.status, ReceiveResult::Status::kClosed);
}

TEST(UdpSocket, SendsWholeDatagramsAndReportsTheSourceAndOversizedOnes) {
  UdpSocket a, b;
  ASSERT_EQ(a.Bind({kLoopback, 0}), 0);
  ASSERT_EQ(b.Bind({kLoopback, 0}), 0);
  const std::vector<uint8_t> payload(100, 0xAB);
  ASSERT_TRUE(a.SendTo(payload, b.LocalEndpoint()));
  uint8_t buffer[64];
  auto result = b.Receive(buffer);
  EXPECT_EQ(result.status, ReceiveResult::Status::kOversized);  // never a cut kDatagram
  EXPECT_EQ(result.size, 100u);
  EXPECT_EQ(result.source, a.LocalEndpoint());
  ASSERT_TRUE(a.SendTo(std::span(payload).first(64), b.LocalEndpoint()));
  result = b.Receive(buffer);
  EXPECT_EQ(result.status, ReceiveResult::Status::kDatagram);
  EXPECT_EQ(result.size, 64u);
  // An empty datagram is a datagram, not a close.
  ASSERT_TRUE(a.SendTo({}, b.LocalEndpoint()));
  result = b.Receive(buffer);
  EXPECT_EQ(result.status, ReceiveResult::Status::kDatagram);
  EXPECT_EQ(result.size, 0u);
}

TEST(UdpSocket, BindToATakenPortReportsAddressInUse) {
  UdpSocket a, b;
  ASSERT_EQ(a.Bind({0, 0}), 0);
  EXPECT_EQ(b.Bind({0, a.LocalEndpoint().port}), EADDRINUSE);
}

}  // namespace
}  // namespace halvyn
