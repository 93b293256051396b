// What the device link counts for the metrics page (process-wide; any thread).
#pragma once

#include "platform/counters.h"

namespace halvyn {

struct DeviceLinkCounters {
  Counter registerWrites;         // DeviceWritePackets sent
  Counter setupDatagrams;         // set-up datagrams sent at device selection
  Counter announcementsAccepted;  // a new device learnt
  Counter announcementsKnown;     // from a device already known: nothing changes
  Counter announcementsIgnored;   // not a valid announcement
};

inline DeviceLinkCounters deviceLinkCounters;

}  // namespace halvyn
