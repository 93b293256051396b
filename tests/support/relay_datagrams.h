// Builders for relay datagrams as a client sends them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/byte_order.h"
#include "relay/client_record.h"
#include "relay/relay_packet.h"

namespace halvyn::testing {

// A 120-byte record-form datagram: "pr", letter, count byte, then the record.
inline std::vector<uint8_t> RecordForm(uint8_t letter, const ClientRecord& record,
                                       uint8_t count = 0) {
  std::vector<uint8_t> packet(relay_packet::kRecordFormSize, 0);
  relay_packet::WriteHeader(packet.data(), letter, count);
  std::copy(record.bytes.begin(), record.bytes.end(), packet.begin() + relay_packet::kRecordOffset);
  return packet;
}

inline ClientRecord NamedRecord(std::string_view name) {
  ClientRecord record;
  record.set_name(name);
  return record;
}

// A client's "p": its own record, then the target's name and its zero.
inline std::vector<uint8_t> ConnectRequest(const ClientRecord& sender, std::string_view target) {
  std::vector<uint8_t> packet = RecordForm(relay_packet::kConnect, sender);
  packet.resize(relay_packet::kTargetNameOffset + target.size() + 1, 0);
  std::copy(target.begin(), target.end(), packet.begin() + relay_packet::kTargetNameOffset);
  return packet;
}

}  // namespace halvyn::testing
