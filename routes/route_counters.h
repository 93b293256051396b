// What the forward-route subsystem counts for the metrics page (process-wide;
// any thread). Releases and their drops are counted with the relay's drops.
#pragma once

#include "platform/counters.h"

namespace halvyn {

struct RouteCounters {
  Counter granted;          // route requests given a slot
  Counter refused;          // route requests answered with slot port 0
  Counter oversizedProbes;  // datagrams on a slot port too long to read whole: listener ended
};

inline RouteCounters routeCounters;

}  // namespace halvyn
