// The field check of a relay, as a person runs it from outside against the
// relay's public address: log in under a temporary name, see "g" and the "h"
// list with that name, send a keep-alive, send a connect request to itself and
// get it back as "p", log out. Output, one line per step, then the verdict:
//
//   check server=IP:PORT name=NAME
//   PASS login 1.2 ms seen_as=IP:PORT      "g" came back; the relay sees us there
//   PASS list 1.3 ms count=N               an "h" list that shows NAME (N entries)
//   PASS keepalive sent                    "k" has no answer
//   PASS connect 0.8 ms                    our own "p" came back
//   PASS logout sent                       "f" has no answer
//   OK
//
// A step that fails prints "FAIL STEP REASON" instead; the last line is then
// "FAIL: REASON" for the first failure. After a failed login the remaining
// steps are skipped, but "f" is still sent in case only the answer was lost.
// Times are from the send to the answer, in milliseconds with one decimal.
#pragma once

#include <cstdint>
#include <string>

#include "platform/udp_socket.h"
#include "tools/client/line_output.h"

namespace halvyn {

struct RelayCheckOptions {
  Ipv4Endpoint server;
  std::string name;               // the temporary name to log in under
  uint32_t stepTimeoutMs = 3000;  // how long each answer may take
  bool verbose = false;           // also print every datagram sent and received
};

// True when every step passed. socket: bound, used only by this call, on the
// calling thread; closing it from another thread ends the check as failed.
bool RunRelayCheck(UdpSocket& socket, const RelayCheckOptions& options, LineOutput& out);

// "check-" and eight random hexadecimal digits.
std::string TemporaryCheckName();

}  // namespace halvyn
