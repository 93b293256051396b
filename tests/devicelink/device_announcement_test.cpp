#include "devicelink/device_announcement.h"

#include <gtest/gtest.h>

#include "devicelink/device_announcement_builder.h"
#include "platform/ipv4.h"

namespace halvyn {
namespace {

const uint32_t kSource = NetworkAddress(10, 0, 0, 101);

DeviceAnnouncement Valid() {
  return BuildDeviceAnnouncement(
      {"ID-7", "Stage Left", {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, 0x0123, 0x5A, 0xA5});
}

std::optional<CLocalDevice> Parse(const DeviceAnnouncement& bytes) {
  return ParseDeviceAnnouncement(bytes.data(), bytes.size(), kSource);
}

TEST(DeviceAnnouncementTest, ValidAnnouncementFillsEveryField) {
  const std::optional<CLocalDevice> device = Parse(Valid());
  ASSERT_TRUE(device);
  EXPECT_EQ(device->deviceId, "ID-7");
  EXPECT_EQ(device->deviceName, "Stage Left");
  EXPECT_EQ(device->fpgaVersion, "0123");
  EXPECT_EQ(device->ipAddress, kSource);
  EXPECT_EQ(device->macAddress, (MacAddress{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
  EXPECT_EQ(device->announceByte18, 0x5A);
  EXPECT_EQ(device->announceByte19, 0xA5);
}

TEST(DeviceAnnouncementTest, OnlyExactly88BytesWithBothMagicsAreAccepted) {
  const DeviceAnnouncement valid = Valid();
  std::vector<uint8_t> longer(valid.begin(), valid.end());
  longer.push_back(0);
  EXPECT_FALSE(ParseDeviceAnnouncement(longer.data(), 89, kSource));
  EXPECT_FALSE(ParseDeviceAnnouncement(valid.data(), 87, kSource));
  EXPECT_FALSE(ParseDeviceAnnouncement(valid.data(), 0, kSource));
  EXPECT_FALSE(ParseDeviceAnnouncement(nullptr, 88, kSource));

  for (size_t offset : {0, 1, 2, 3, 4, 5}) {
    DeviceAnnouncement wrong = valid;
    wrong[offset] ^= 0x01;
    EXPECT_FALSE(Parse(wrong)) << "byte " << offset;
  }
  DeviceAnnouncement byte5 = valid;
  byte5[5] = 0x53;
  EXPECT_FALSE(Parse(byte5));
}

TEST(DeviceAnnouncementTest, VersionNibblesAboveNineBecomeTheCharactersAfterNine) {
  DeviceAnnouncement bytes = Valid();
  bytes[16] = 0x1A;
  bytes[17] = 0x05;
  EXPECT_EQ(Parse(bytes)->fpgaVersion, "1:05");
  bytes[16] = 0xBC;
  bytes[17] = 0xDF;
  EXPECT_EQ(Parse(bytes)->fpgaVersion, ";<=?");
}

TEST(DeviceAnnouncementTest, TextEndsAtItsLengthOrAtAZeroByte) {
  DeviceAnnouncement bytes = Valid();
  bytes[20] = 0;  // ID length 0
  bytes[42] = 0;  // third byte of the name
  const std::optional<CLocalDevice> device = Parse(bytes);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->deviceId, "");
  EXPECT_EQ(device->deviceName, "St");

  bytes = Valid();
  bytes[39] = 3;  // shorter than the text in the field
  EXPECT_EQ(Parse(bytes)->deviceName, "Sta");
}

TEST(DeviceAnnouncementTest, LongLengthBytesStopAt63CharactersAndAtTheDatagramEnd) {
  DeviceAnnouncement bytes{};
  bytes = Valid();
  // An ID length past its 18-byte field runs on into the following bytes, up to 63 of them.
  for (size_t i = 21; i < 88; ++i) bytes[i] = uint8_t('a' + i % 26);
  bytes[20] = 200;
  // A name length past the 48 bytes the datagram still holds stops at its end.
  bytes[39] = 60;
  const std::optional<CLocalDevice> device = Parse(bytes);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->deviceId.size(), 63u);
  EXPECT_EQ(device->deviceId, std::string(bytes.begin() + 21, bytes.begin() + 84));
  EXPECT_EQ(device->deviceName, std::string(bytes.begin() + 40, bytes.end()));

  bytes[39] = 255;
  EXPECT_EQ(Parse(bytes)->deviceName.size(), 48u);
}

TEST(DeviceAnnouncementBuilderTest, CutsTextsToTheirFields) {
  const DeviceAnnouncement bytes =
      BuildDeviceAnnouncement({std::string(30, 'i'), std::string(60, 'n'), {}, 0, 0, 0});
  EXPECT_EQ(bytes[20], 18);
  EXPECT_EQ(bytes[39], 48);
  EXPECT_EQ(Parse(bytes)->deviceName, std::string(48, 'n'));
}

}  // namespace
}  // namespace halvyn
