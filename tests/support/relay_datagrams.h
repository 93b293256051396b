// Relay datagrams as a client sends them, for tests: the client codec's
// builders under the names the tests use.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "relay/client_record.h"
#include "relay/relay_client_codec.h"
#include "relay/relay_packet.h"

namespace halvyn::testing {

using halvyn::NamedRecord;

// A 120-byte record-form datagram: "pr", letter, count byte, then the record.
inline std::vector<uint8_t> RecordForm(uint8_t letter, const ClientRecord& record,
                                       uint8_t count = 0) {
  return BuildRecordPacket(letter, record, count);
}

// A client's "p": its own record, then the target's name and its zero.
inline std::vector<uint8_t> ConnectRequest(const ClientRecord& sender, std::string_view target) {
  return BuildConnectRequest(sender, target, /*nameField=*/0);
}

}  // namespace halvyn::testing
