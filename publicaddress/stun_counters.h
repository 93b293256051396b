// What the STUN client counts for the metrics page: one set per server, given
// to the STUN client by its owner (any thread).
#pragma once

#include "platform/counters.h"

namespace halvyn {

struct StunCounters {
  Counter requestsSent;     // Binding Requests sent, one per resolved address
  Counter answersAccepted;  // datagrams on the device socket that gave a mapped address
  Counter answersRejected;  // datagrams on the device socket that did not
  Counter oversized;        // datagrams on the device socket too long to read whole: dropped
};

}  // namespace halvyn
