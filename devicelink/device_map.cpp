#include "devicelink/device_map.h"

#include "devicelink/device_announcement.h"
#include "platform/ipv4.h"

namespace halvyn {

const CLocalDevice* DeviceMap::Add(CLocalDevice device) {
  const uint32_t address = device.ipAddress;
  auto [entry, added] = devices_.try_emplace(address, std::move(device));
  if (!added) return nullptr;
  order_.push_back(address);
  return &entry->second;
}

const CLocalDevice* DeviceMap::AddAnnouncement(const uint8_t* bytes, size_t size,
                                               uint32_t sourceAddress) {
  if (Find(sourceAddress) != nullptr) {
    counters_.announcementsKnown.Add();
    return nullptr;
  }
  std::optional<CLocalDevice> device = ParseDeviceAnnouncement(bytes, size, sourceAddress);
  if (!device) {
    counters_.announcementsIgnored.Add();
    return nullptr;
  }
  counters_.announcementsAccepted.Add();
  return Add(std::move(*device));
}

const CLocalDevice* DeviceMap::Find(uint32_t ipAddress) const {
  auto entry = devices_.find(ipAddress);
  return entry == devices_.end() ? nullptr : &entry->second;
}

std::vector<DeviceListRow> DeviceListRows(const DeviceMap& devices) {
  std::vector<DeviceListRow> rows;
  rows.reserve(devices.size());
  uint8_t counter = 0;  // the list's row counter is 8 bits wide
  devices.ForEach([&](const CLocalDevice& device) {
    DeviceListRow row;
    row.columns[DeviceListRow::kNumber] = std::to_string(counter + 1);
    row.columns[DeviceListRow::kDeviceId] = device.deviceId;
    row.columns[DeviceListRow::kDeviceName] = device.deviceName;
    row.columns[DeviceListRow::kIp] = DottedText(device.ipAddress);
    row.columns[DeviceListRow::kFpgaVersion] = device.fpgaVersion;
    row.device = &device;
    rows.push_back(std::move(row));
    ++counter;
  });
  return rows;
}

}  // namespace halvyn
