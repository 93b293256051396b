#include "devicelink/device_announcement_builder.h"

#include <algorithm>

#include "platform/wire_writer.h"

namespace halvyn {

using namespace device_announcement;

namespace {

void PutText(WireWriter& out, size_t lengthOffset, size_t offset, size_t fieldSize,
             const std::string& text) {
  const std::string_view cut = std::string_view(text).substr(0, fieldSize);
  out.U8(lengthOffset, uint8_t(cut.size())).Text(offset, cut);
}

}  // namespace

DeviceAnnouncement BuildDeviceAnnouncement(const DeviceAnnouncementFields& fields) {
  DeviceAnnouncement bytes{};
  WireWriter out(bytes);
  out.Bytes(kMagicOffset, kMagic)
      .Bytes(kFollowingLengthOffset, kFollowingLength)
      .Bytes(kMacOffset, fields.mac)
      .Be16(kVersionOffset, fields.fpgaVersion)
      .U8(kByte18Offset, fields.byte18)
      .U8(kByte19Offset, fields.byte19);
  PutText(out, kIdLengthOffset, kIdOffset, kIdFieldSize, fields.deviceId);
  PutText(out, kNameLengthOffset, kNameOffset, kNameFieldSize, fields.deviceName);
  return bytes;
}

}  // namespace halvyn
