// What the device link counts for the metrics page: one set per server, given
// to the device map and the device socket's writers by their owner (any thread).
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

}  // namespace halvyn
