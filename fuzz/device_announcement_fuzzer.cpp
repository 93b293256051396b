// libFuzzer target for the device announcement parser: any bytes, any size.
// Checks the parser's promises on every accepted input, besides what the
// sanitizers catch (reads past the input, undefined behaviour).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "devicelink/device_announcement.h"
#include "devicelink/device_map.h"
#include "platform/ipv4.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

bool ValidText(const std::string& text) {
  return text.size() <= halvyn::device_announcement::kMaxTextLength &&
         text.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint32_t source = halvyn::NetworkAddress(10, 200, 0, 101);
  const std::optional<halvyn::CLocalDevice> device =
      halvyn::ParseDeviceAnnouncement(data, size, source);
  if (device) {
    Check(size == halvyn::device_announcement::kSize);
    Check(ValidText(device->deviceId) && ValidText(device->deviceName));
    Check(device->fpgaVersion.size() == 4);
    for (char c : device->fpgaVersion) Check(c >= '0' && c <= '?');
    Check(device->ipAddress == source);
  }
  halvyn::DeviceLinkCounters counters;
  halvyn::DeviceMap devices{counters};
  const bool added = devices.AddAnnouncement(data, size, source) != nullptr;
  Check(added == device.has_value());
  Check(devices.AddAnnouncement(data, size, source) == nullptr);
  Check(halvyn::DeviceListRows(devices).size() == (added ? 1u : 0u));
  return 0;
}
