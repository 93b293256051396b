#include "platform/udp_batch.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace halvyn {
namespace {

const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);

std::vector<uint8_t> Bytes(size_t size, uint8_t fill) {
  return std::vector<uint8_t>(size, fill);
}

TEST(ReceiveBatch, LeavesOutAndCountsDatagramsLongerThanItsBuffers) {
  UdpSocket a, server;
  ASSERT_EQ(a.Bind({kLoopback, 0}), 0);
  ASSERT_EQ(server.Bind({kLoopback, 0}), 0);
  ASSERT_TRUE(a.SendTo(Bytes(257, 1), server.LocalEndpoint()));
  ASSERT_TRUE(a.SendTo(Bytes(256, 2), server.LocalEndpoint()));
  ASSERT_TRUE(a.SendTo(Bytes(1000, 3), server.LocalEndpoint()));
  ASSERT_TRUE(a.SendTo(Bytes(10, 4), server.LocalEndpoint()));
  ReceiveBatch batch(8, 256);
  BatchReceiveResult result = batch.Receive(server, /*wait=*/true);
  ASSERT_EQ(result.status, ReceiveResult::Status::kDatagram);
  EXPECT_EQ(result.oversized, 2u);
  ASSERT_EQ(result.count, 2u);
  EXPECT_EQ(std::vector<uint8_t>(batch.bytes(0).begin(), batch.bytes(0).end()), Bytes(256, 2));
  EXPECT_EQ(std::vector<uint8_t>(batch.bytes(1).begin(), batch.bytes(1).end()), Bytes(10, 4));
  EXPECT_EQ(batch.source(1), a.LocalEndpoint());
  // A batch of nothing but oversized datagrams holds none.
  ASSERT_TRUE(a.SendTo(Bytes(300, 5), server.LocalEndpoint()));
  result = batch.Receive(server, /*wait=*/true);
  EXPECT_EQ(result.status, ReceiveResult::Status::kDatagram);
  EXPECT_EQ(result.count, 0u);
  EXPECT_EQ(result.oversized, 1u);
}

TEST(ReceiveBatch, KeepHeadTakesEveryWaitingDatagramInOrderWithSourcesAndCuts) {
  UdpSocket a, b, server;
  ASSERT_EQ(a.Bind({kLoopback, 0}), 0);
  ASSERT_EQ(b.Bind({kLoopback, 0}), 0);
  ASSERT_EQ(server.Bind({kLoopback, 0}), 0);
  ASSERT_TRUE(a.SendTo(Bytes(10, 1), server.LocalEndpoint()));
  ASSERT_TRUE(b.SendTo(Bytes(300, 2), server.LocalEndpoint()));
  ASSERT_TRUE(a.SendTo({}, server.LocalEndpoint()));
  ReceiveBatch batch(8, 256, ReceiveBatch::Oversized::kKeepHead);
  const BatchReceiveResult result = batch.Receive(server, /*wait=*/true);
  ASSERT_EQ(result.status, ReceiveResult::Status::kDatagram);
  ASSERT_EQ(result.count, 3u);
  EXPECT_EQ(result.oversized, 0u);
  EXPECT_EQ(std::vector<uint8_t>(batch.bytes(0).begin(), batch.bytes(0).end()), Bytes(10, 1));
  EXPECT_EQ(batch.source(0), a.LocalEndpoint());
  EXPECT_FALSE(batch.truncated(0));
  EXPECT_EQ(batch.bytes(1).size(), 256u);
  EXPECT_EQ(batch.length(1), 300u);
  EXPECT_TRUE(batch.truncated(1));
  EXPECT_EQ(batch.source(1), b.LocalEndpoint());
  EXPECT_EQ(batch.bytes(2).size(), 0u);  // an empty datagram is still a datagram
  // Nothing more waiting: without waiting, EAGAIN.
  const BatchReceiveResult empty = batch.Receive(server, /*wait=*/false);
  EXPECT_EQ(empty.status, ReceiveResult::Status::kError);
  EXPECT_EQ(empty.error, EAGAIN);
}

TEST(ReceiveBatch, TakesNoMoreThanItsCapacity) {
  UdpSocket a, server;
  ASSERT_EQ(a.Bind({kLoopback, 0}), 0);
  ASSERT_EQ(server.Bind({kLoopback, 0}), 0);
  for (uint8_t i = 0; i < 5; ++i) ASSERT_TRUE(a.SendTo(Bytes(4, i), server.LocalEndpoint()));
  ReceiveBatch batch(3, 16);
  ASSERT_EQ(batch.Receive(server, true).count, 3u);
  EXPECT_EQ(batch.bytes(2)[0], 2);
  ASSERT_EQ(batch.Receive(server, true).count, 2u);
  EXPECT_EQ(batch.bytes(1)[0], 4);
}

TEST(ReceiveBatch, CloseWakesABlockedReceive) {
  UdpSocket server;
  ASSERT_EQ(server.Bind({kLoopback, 0}), 0);
  ReceiveBatch batch(4, 64);
  BatchReceiveResult result;
  std::thread receiver([&] { result = batch.Receive(server, true); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  server.Close();
  receiver.join();
  EXPECT_EQ(result.status, ReceiveResult::Status::kClosed);
}

TEST(SendToEach, SendsTheSameDatagramToEachDestinationInOrder) {
  UdpSocket sender;
  ASSERT_EQ(sender.Bind({kLoopback, 0}), 0);
  // More destinations than one system call takes, all to one receiver, so
  // the arrival order is the order of sending.
  UdpSocket receiver;
  ASSERT_EQ(receiver.Bind({kLoopback, 0}), 0);
  ASSERT_EQ(receiver.SetReceiveBufferSize(1 << 20), 0);
  std::vector<Ipv4Endpoint> destinations(kSendBatchSize + 6, receiver.LocalEndpoint());
  // A destination the kernel refuses (port 0) is skipped; the rest still go.
  destinations[3] = {kLoopback, 0};
  EXPECT_EQ(sender.SendToEach(Bytes(100, 7), destinations), destinations.size() - 1);
  size_t received = 0;
  uint8_t buffer[200];
  while (receiver.ReceiveNow(buffer).status == ReceiveResult::Status::kDatagram) ++received;
  EXPECT_EQ(received, destinations.size() - 1);
}

TEST(SendEach, KeepsTheOrderOfDifferentDatagrams) {
  UdpSocket sender, receiver;
  ASSERT_EQ(sender.Bind({kLoopback, 0}), 0);
  ASSERT_EQ(receiver.Bind({kLoopback, 0}), 0);
  std::vector<std::vector<uint8_t>> payloads;
  std::vector<OutgoingDatagram> datagrams;
  for (uint8_t i = 0; i < 100; ++i) payloads.push_back(Bytes(8, i));
  for (const auto& payload : payloads) datagrams.push_back({payload, receiver.LocalEndpoint()});
  ASSERT_EQ(SendEach(sender, datagrams), 100u);
  uint8_t buffer[16];
  for (uint8_t i = 0; i < 100; ++i) {
    const ReceiveResult result = receiver.ReceiveNow(buffer);
    ASSERT_EQ(result.status, ReceiveResult::Status::kDatagram);
    EXPECT_EQ(buffer[0], i);
  }
}

}  // namespace
}  // namespace halvyn
