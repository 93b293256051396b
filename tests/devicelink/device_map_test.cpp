#include "devicelink/device_map.h"

#include <gtest/gtest.h>

#include "devicelink/device_announcement_builder.h"
#include "platform/ipv4.h"

namespace halvyn {
namespace {

using Row = std::array<std::string, 6>;

DeviceAnnouncement Announcement(const std::string& id, const std::string& name, uint16_t version) {
  return BuildDeviceAnnouncement({id, name, {0x02, 0, 0, 0, 0, 1}, version, 0, 0});
}

const CLocalDevice* Announce(DeviceMap& devices, const DeviceAnnouncement& bytes, uint32_t source) {
  return devices.AddAnnouncement(bytes.data(), bytes.size(), source);
}

TEST(DeviceMapTest, FirstAnnouncementGivesRowOne) {
  DeviceLinkCounters counters;
  DeviceMap devices{counters};
  const CLocalDevice* added =
      Announce(devices, Announcement("ID1", "Desk", 0x0102), NetworkAddress(192, 168, 1, 50));
  ASSERT_NE(added, nullptr);
  const std::vector<DeviceListRow> rows = DeviceListRows(devices);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].columns, (Row{"1", "ID1", "Desk", "192.168.1.50", "0102", ""}));
  EXPECT_EQ(rows[0].device, added);
}

TEST(DeviceMapTest, RepeatedAddressKeepsItsFirstRecord) {
  DeviceLinkCounters counters;
  DeviceMap devices{counters};
  const uint32_t address = NetworkAddress(10, 0, 0, 5);
  const CLocalDevice* first = Announce(devices, Announcement("A", "First", 0x1111), address);
  EXPECT_EQ(Announce(devices, Announcement("B", "Second", 0x2222), address), nullptr);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices.Find(address), first);
  EXPECT_EQ(first->deviceName, "First");
  EXPECT_EQ(first->fpgaVersion, "1111");
}

TEST(DeviceMapTest, NonAnnouncementsAddNothing) {
  DeviceLinkCounters counters;
  DeviceMap devices{counters};
  const DeviceAnnouncement bytes = Announcement("A", "A", 0);
  EXPECT_EQ(devices.AddAnnouncement(bytes.data(), 87, NetworkAddress(10, 0, 0, 1)), nullptr);
  EXPECT_EQ(devices.size(), 0u);
}

TEST(DeviceMapTest, RowsFollowTheOrderOfFirstAnnouncement) {
  DeviceLinkCounters counters;
  DeviceMap devices{counters};
  // Addresses deliberately out of numeric order; same name at two addresses gives two rows.
  Announce(devices, Announcement("X", "Same", 0), NetworkAddress(10, 0, 0, 9));
  Announce(devices, Announcement("Y", "Same", 0), NetworkAddress(10, 0, 0, 2));
  Announce(devices, Announcement("Z", "Other", 0), NetworkAddress(10, 0, 0, 200));
  const std::vector<DeviceListRow> rows = DeviceListRows(devices);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].columns, (Row{"1", "X", "Same", "10.0.0.9", "0000", ""}));
  EXPECT_EQ(rows[1].columns, (Row{"2", "Y", "Same", "10.0.0.2", "0000", ""}));
  EXPECT_EQ(rows[2].columns, (Row{"3", "Z", "Other", "10.0.0.200", "0000", ""}));
}

TEST(DeviceMapTest, RowNumbersFollowAnEightBitCounterAndRecordsNeverMove) {
  DeviceLinkCounters counters;
  DeviceMap devices{counters};
  const CLocalDevice* first = nullptr;
  for (uint32_t i = 0; i < 258; ++i) {
    const CLocalDevice* added = Announce(devices, Announcement("D", "D", 0),
                                         NetworkAddress(10, 0, uint8_t(i >> 8), uint8_t(i)));
    if (i == 0) first = added;
  }
  const std::vector<DeviceListRow> rows = DeviceListRows(devices);
  ASSERT_EQ(rows.size(), 258u);
  EXPECT_EQ(rows[254].columns[0], "255");
  EXPECT_EQ(rows[255].columns[0], "256");
  EXPECT_EQ(rows[256].columns[0], "1");
  EXPECT_EQ(rows[257].columns[0], "2");
  EXPECT_EQ(rows[0].device, first);
  EXPECT_EQ(first->ipAddress, NetworkAddress(10, 0, 0, 0));
}

}  // namespace
}  // namespace halvyn
