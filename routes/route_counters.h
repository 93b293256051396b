// What the forward-route subsystem counts for the metrics page: one set per
// server, given to the route handler and the port-learning listeners by their
// owner (any thread). Releases and their drops are counted with the relay's drops.
#pragma once

#include "platform/counters.h"

namespace halvyn {

struct RouteCounters {
  Counter granted;          // route requests given a slot
  Counter refused;          // route requests answered with slot port 0
  Counter oversizedProbes;  // datagrams on a slot port too long to read whole: listener ended
};

}  // namespace halvyn
