#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "devicelink/device_selection_writes.h"
#include "devicelink/device_setup_packet.h"
#include "devicelink/device_socket_writer.h"
#include "tests/support/recording_sender.h"

namespace halvyn {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr MacAddress kPcMac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
constexpr uint32_t kPcAddress = 0xC0A80114;  // 192.168.1.20, host order

TEST(DeviceSetupPacketTest, CarriesThePcMacAndAddressInEightEntries) {
  const DeviceSetupPacket packet = BuildDeviceSetupPacket(kPcMac, kPcAddress);
  const uint8_t expected[70] = {
      'v',  'e',  'l',  't',  'r',  'w',               //
      0x00, 0x06, 0x80, 0x00, 0x00, 0x00, 0x00, 0x20,  //
      0x00, 0x22, 0x80, 0x00, 0x00, 0x00, 0xFF, 0xFF,  //
      0x00, 0x23, 0x80, 0x00, 0x00, 0x00, 0xFF, 0xFF,  //
      0x00, 0x1A, 0x80, 0x00, 0x00, 0x00, 0x00, 0x11,  //
      0x00, 0x1B, 0x80, 0x00, 0x00, 0x00, 0x22, 0x33,  //
      0x00, 0x1C, 0x80, 0x00, 0x00, 0x00, 0x44, 0x55,  //
      0x00, 0x1D, 0x80, 0x00, 0x00, 0x00, 0xC0, 0xA8,  //
      0x00, 0x1E, 0x80, 0x00, 0x00, 0x00, 0x01, 0x14,  //
  };
  EXPECT_THAT(packet, ElementsAreArray(expected));
}

TEST(DeviceSetupPacketTest, NoIdentityGivesZeroValuesInEntriesFourToEight) {
  const DeviceSetupPacket packet = BuildDeviceSetupPacket(MacAddress{}, 0);
  for (size_t entry = 3; entry < 8; ++entry)
    EXPECT_THAT(std::span(packet).subspan(6 + entry * 8 + 6, 2), ElementsAre(0, 0)) << entry;
}

TEST(DeviceSelectionWritesTest, SendsSetupThenSixteenClearingWritesWithPauses) {
  testing::RecordingSender socket;
  DeviceLinkCounters counters;
  DeviceSocketWriter writer(socket, counters);
  std::vector<std::string> events;
  const uint32_t device = NetworkAddress(10, 0, 0, 101);
  PerformDeviceSelectionWrites(
      socket, writer, counters, {device, kPcMac, kPcAddress},
      [&](uint32_t ms) {
        events.push_back("sleep " + std::to_string(ms) + " after " +
                         std::to_string(socket.Sent().size()));
      },
      [&] { events.push_back("marked after " + std::to_string(socket.Sent().size())); });

  const auto sent = socket.Sent();
  ASSERT_EQ(sent.size(), 17u);
  const DeviceSetupPacket setup = BuildDeviceSetupPacket(kPcMac, kPcAddress);
  EXPECT_THAT(sent[0].bytes, ElementsAreArray(setup));
  for (size_t i = 0; i < 17; ++i) EXPECT_EQ(sent[i].destination, (Ipv4Endpoint{device, 4440}));
  for (size_t i = 1; i < 17; ++i) {
    const std::vector<uint8_t>& bytes = sent[i].bytes;
    ASSERT_EQ(bytes.size(), 140u);
    const uint16_t expectedRegister = uint16_t(0x0400 + 64 * (i - 1));
    EXPECT_EQ(bytes[6], expectedRegister >> 8) << i;
    EXPECT_EQ(bytes[7], expectedRegister & 0xFF) << i;
    EXPECT_THAT(std::span(bytes).subspan(8, 2), ElementsAre(0xC0, 0x80));
    EXPECT_EQ(std::count(bytes.begin() + 12, bytes.end(), 0), 128);
  }
  EXPECT_EQ(sent[16].bytes[6], 0x07);
  EXPECT_EQ(sent[16].bytes[7], 0xC0);

  std::vector<std::string> expected = {"sleep 10 after 1", "marked after 1"};
  for (int i = 2; i <= 17; ++i) expected.push_back("sleep 5 after " + std::to_string(i));
  EXPECT_EQ(events, expected);
}

}  // namespace
}  // namespace halvyn
