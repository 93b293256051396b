// The client's side of the relay protocol: the requests a remote client sends
// and the replies it reads, as a remote device builds and reads them.
//
// Every request starts with the record form (120 bytes): "pr", the letter, a
// count byte, then the sender's own ClientRecord at 4..119 (its name and p2p
// address; ip, port and last_seen are the server's and left as the caller set
// them).
//
//   letter  length          after the record form
//   e f k i 120             -
//   p       120 + max(nameField, len(target) + 1)
//                           the target's name from offset 120, NUL-padded
//   w       120             - (sent to a route's slot port, not the relay port)
//
// The route requests "r" and "x" are built in routes/route_packets.h.
//
// Replies: "g", "i" and a forwarded "p" are one record form (RelayPacketView
// reads them); "h" is n record forms back to back, each with "h" and the count
// byte n modulo 256 (ClientListView reads it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "relay/client_record.h"
#include "relay/relay_packet.h"

namespace halvyn {

using Datagram = std::vector<uint8_t>;

// A record with this name (at most 31 bytes of it), every other byte zero.
ClientRecord NamedRecord(std::string_view name);

// "pr", letter, count, then the record: "e", "f", "k", "i" and "w".
Datagram BuildRecordPacket(uint8_t letter, const ClientRecord& self, uint8_t count = 0);

// "p": a connect request to the client named target. The name and its zero
// fill at least nameField bytes (a whole name field by default; 0 sends just
// the name and its zero).
Datagram BuildConnectRequest(const ClientRecord& self, std::string_view target,
                             size_t nameField = client_record::kNameCapacity);

// "p" into a buffer of a fixed size (at least 121 bytes): the target's name
// from offset 120, cut so that its zero fits, and zeros to the buffer's end.
void WriteConnectRequest(std::span<uint8_t> out, const ClientRecord& self, std::string_view target);

// An "h" list: the whole 120-byte blocks of a datagram, bytes after the last
// whole block not counted. A view: the datagram must outlive it.
class ClientListView {
 public:
  explicit ClientListView(std::span<const uint8_t> datagram) : bytes_(datagram) {}

  size_t size() const { return bytes_.size() / relay_packet::kRecordFormSize; }
  // True when the datagram is a whole number of blocks.
  bool whole() const { return bytes_.size() % relay_packet::kRecordFormSize == 0; }
  // True when block k starts with "pr", "h" and the count byte size() modulo 256.
  bool HasListHeader(size_t k) const;
  // Whole, and every block has its list header.
  bool WellFormed() const;
  // The record of block k < size().
  ClientRecord record(size_t k) const;

 private:
  std::span<const uint8_t, relay_packet::kRecordFormSize> Block(size_t k) const {
    return bytes_.subspan(k * relay_packet::kRecordFormSize).first<relay_packet::kRecordFormSize>();
  }

  std::span<const uint8_t> bytes_;
};

}  // namespace halvyn
