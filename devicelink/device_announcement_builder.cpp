#include "devicelink/device_announcement_builder.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace halvyn {

namespace {

using Layout = DeviceAnnouncementLayout;

void PutText(DeviceAnnouncement& out, size_t lengthOffset, size_t offset, size_t fieldSize,
             const std::string& text) {
  const size_t length = std::min(text.size(), fieldSize);
  out[lengthOffset] = uint8_t(length);
  std::copy_n(text.begin(), length, out.begin() + offset);
}

}  // namespace

DeviceAnnouncement BuildDeviceAnnouncement(const DeviceAnnouncementFields& fields) {
  DeviceAnnouncement out{};
  std::copy(std::begin(Layout::kMagic), std::end(Layout::kMagic),
            out.begin() + Layout::kMagicOffset);
  std::copy(std::begin(Layout::kFollowingLength), std::end(Layout::kFollowingLength),
            out.begin() + Layout::kFollowingLengthOffset);
  std::copy(fields.mac.begin(), fields.mac.end(), out.begin() + Layout::kMacOffset);
  StoreBe16(out.data() + Layout::kVersionOffset, fields.fpgaVersion);
  out[Layout::kByte18Offset] = fields.byte18;
  out[Layout::kByte19Offset] = fields.byte19;
  PutText(out, Layout::kIdLengthOffset, Layout::kIdOffset, Layout::kIdFieldSize, fields.deviceId);
  PutText(out, Layout::kNameLengthOffset, Layout::kNameOffset, Layout::kNameFieldSize,
          fields.deviceName);
  return out;
}

}  // namespace halvyn
