// Command line of halvyn-devsim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devicelink/device_announcement_builder.h"
#include "platform/ipv4.h"

namespace halvyn::devsim {

struct DevsimOptions {
  DeviceAnnouncementFields announcement{
      "DEVSIM-0001", "Halvyn devsim", {0x02, 0x48, 0x56, 0x00, 0x00, 0x01}, 0x0123, 0, 0};
  uint32_t intervalMs = 1000;  // between announcements
  bool announce = true;
  Ipv4Endpoint announceTo{NetworkAddress(224, 0, 0, 222), 9887};
  uint32_t sourceAddress = 0;  // network order; 0: the kernel picks the interface
  Ipv4Endpoint listen{0, 4440};
  std::string dumpFile;  // empty: none
  bool quiet = false;    // no line per datagram
  bool help = false;
};

extern const char kDevsimUsage[];

// The MAC a device announces when --mac is not given: locally administered
// 02:48:56, then three bytes of a hash of its ID.
MacAddress DefaultDevsimMac(std::string_view deviceId);

// nullopt and a message in error when the arguments are not understood.
std::optional<DevsimOptions> ParseDevsimOptions(const std::vector<std::string>& arguments,
                                                std::string& error);

}  // namespace halvyn::devsim
