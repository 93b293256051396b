// deviceMap: every LAN device learnt from an announcement, keyed by its IPv4
// address, and the rows of the LAN device list drawn from it.
//
// Window thread only (the discovery listener never touches it). Records are
// only added: an address keeps its first record, and a record's address in
// memory never changes, so list rows may point at it for the map's life.
// Iteration order is the order in which the devices first announced themselves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "devicelink/devicelink_counters.h"
#include "devicelink/local_device.h"

namespace halvyn {

class DeviceMap {
 public:
  // Announcements are counted in counters, which must outlive the map.
  explicit DeviceMap(DeviceLinkCounters& counters) : counters_(counters) {}

  // Adds the device under its ipAddress unless that address is known.
  // Returns the stored record when it was added, nullptr when it was already known.
  const CLocalDevice* Add(CLocalDevice device);
  // Parses an announcement (see ParseDeviceAnnouncement) and adds the device;
  // the result as for Add, nullptr too when the datagram is not an announcement.
  const CLocalDevice* AddAnnouncement(const uint8_t* bytes, size_t size, uint32_t sourceAddress);

  const CLocalDevice* Find(uint32_t ipAddress) const;
  size_t size() const { return order_.size(); }

  // In order of first announcement.
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (uint32_t address : order_) visit(devices_.at(address));
  }

 private:
  DeviceLinkCounters& counters_;
  std::map<uint32_t, CLocalDevice> devices_;  // node-based: records never move
  std::vector<uint32_t> order_;
};

// One row of the LAN device list: its six column texts and the record it shows.
struct DeviceListRow {
  enum Column { kNumber, kDeviceId, kDeviceName, kIp, kFpgaVersion, kStatus, kColumnCount };
  std::array<std::string, kColumnCount> columns;
  const CLocalDevice* device = nullptr;  // points into the DeviceMap
};

// The rows in the map's order. Column 0 is the 8-bit row counter plus one in
// decimal (row 256 reads "256", row 257 reads "1" again); column 5 is empty.
std::vector<DeviceListRow> DeviceListRows(const DeviceMap& devices);

}  // namespace halvyn
