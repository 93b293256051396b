#include "devicelink/device_write_packet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "devicelink/device_socket_writer.h"
#include "tests/support/recording_sender.h"

namespace halvyn {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<uint8_t> Bytes(const DeviceWritePacket& packet) {
  return {packet.bytes().begin(), packet.bytes().end()};
}

TEST(DeviceWritePacketTest, ThreeBytesArePaddedToAnEvenLength) {
  const uint8_t data[] = {0x11, 0x22, 0x33};
  const auto packet = DeviceWritePacket::Build(0x0810, data);
  ASSERT_TRUE(packet);
  EXPECT_THAT(Bytes(*packet), ElementsAre('v', 'e', 'l', 't', 'r', 'w', 0x08, 0x10, 0xC0, 0x04,
                                          0x00, 0x00, 0x11, 0x22, 0x33, 0x00));
}

TEST(DeviceWritePacketTest, EmptyBlockIsTheTwelveByteHeader) {
  const auto packet = DeviceWritePacket::Build(0x1234, {});
  ASSERT_TRUE(packet);
  EXPECT_THAT(Bytes(*packet),
              ElementsAre('v', 'e', 'l', 't', 'r', 'w', 0x12, 0x34, 0xC0, 0x00, 0x00, 0x00));
}

TEST(DeviceWritePacketTest, LengthFieldCarriesTwelveBitsUnderTheFlags) {
  std::vector<uint8_t> block(128);
  std::iota(block.begin(), block.end(), uint8_t(1));
  auto packet = DeviceWritePacket::Build(0x07C0, block);
  ASSERT_TRUE(packet);
  ASSERT_EQ(packet->bytes().size(), 140u);
  EXPECT_THAT(packet->bytes().subspan(6, 4), ElementsAre(0x07, 0xC0, 0xC0, 0x80));
  EXPECT_THAT(packet->bytes().subspan(12), ElementsAreArray(block));

  std::vector<uint8_t> largest(1088, 0xAA);
  packet = DeviceWritePacket::Build(0x0000, largest);
  ASSERT_TRUE(packet);
  ASSERT_EQ(packet->bytes().size(), 1100u);
  EXPECT_THAT(packet->bytes().subspan(8, 2), ElementsAre(0xC4, 0x40));
  EXPECT_EQ(packet->bytes()[1099], 0xAA);
}

TEST(DeviceWritePacketTest, MoreThan1088BytesIsRefused) {
  std::vector<uint8_t> tooLong(1089);
  EXPECT_FALSE(DeviceWritePacket::Build(0x0000, tooLong));
}

TEST(DeviceSocketWriterTest, SendsOneDatagramToRegisterPort4440) {
  testing::RecordingSender socket;
  DeviceLinkCounters counters;
  DeviceSocketWriter writer(socket, counters);
  const uint8_t data[] = {0x11, 0x22, 0x33};
  const uint32_t device = NetworkAddress(10, 0, 0, 7);
  writer.WriteDeviceRegisters(device, 0x0810, data);
  ASSERT_EQ(socket.Sent().size(), 1u);
  EXPECT_EQ(socket.Sent()[0].destination, (Ipv4Endpoint{device, 4440}));
  EXPECT_EQ(socket.Sent()[0].bytes, Bytes(*DeviceWritePacket::Build(0x0810, data)));
}

TEST(DeviceSocketWriterTest, OversizedBlockSendsNothing) {
  testing::RecordingSender socket;
  DeviceLinkCounters counters;
  DeviceSocketWriter writer(socket, counters);
  std::vector<uint8_t> tooLong(1089);
  writer.WriteDeviceRegisters(NetworkAddress(10, 0, 0, 7), 0x0400, tooLong);
  std::vector<uint8_t> largest(1088);
  writer.WriteDeviceRegisters(NetworkAddress(10, 0, 0, 7), 0x0400, largest);
  ASSERT_EQ(socket.Sent().size(), 1u);
  EXPECT_EQ(socket.Sent()[0].bytes.size(), 1100u);
}

}  // namespace
}  // namespace halvyn
