// RelayPacket: every datagram of the relay protocol.
//
//   offset width content
//   0      2     "pr" (0x70 0x72)
//   2      1     command letter
//   3      1     count byte ("h": records modulo 256; 0 in "i"/"t"/"s" the server
//                builds; otherwise echoed unchanged)
//   4      116   ClientRecord          (record form, 120 bytes)
//   120    108   CRouteInfo            (route form, 228 bytes)
//
// An "h" list is n record forms back to back in one datagram. A client's "p"
// carries the target's NUL-terminated name from offset 120.
//
// The offsets are named in namespace relay_packet; RelayPacketView reads (and
// MutableRelayPacketView also edits) one received datagram through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

#include "platform/wire_reader.h"
#include "relay/client_record.h"

namespace halvyn {

namespace relay_packet {

constexpr uint8_t kMagic0 = 0x70;  // 'p'
constexpr uint8_t kMagic1 = 0x72;  // 'r'
constexpr size_t kCommandOffset = 2;
constexpr size_t kCountOffset = 3;
constexpr size_t kHeaderSize = 4;
constexpr size_t kRecordOffset = 4;
constexpr size_t kRecordFormSize = 120;
constexpr size_t kRouteFormSize = 228;
constexpr size_t kMinimumSize = 120;
constexpr size_t kTargetNameOffset = 120;  // "p": the target client's name
// The last byte of the record's name; zeroed on receipt so a name has at most 31 characters.
constexpr size_t kNameTerminatorOffset = kRecordOffset + client_record::kNameCapacity - 1;
// Datagrams longer than this are cut to it on receipt.
constexpr size_t kReceiveBufferSize = 1024;

constexpr uint8_t kLogin = 'e';
constexpr uint8_t kLoginAccepted = 'g';
constexpr uint8_t kClientList = 'h';
constexpr uint8_t kLogout = 'f';
constexpr uint8_t kInfo = 'i';
constexpr uint8_t kKeepAlive = 'k';
constexpr uint8_t kConnect = 'p';
constexpr uint8_t kRouteRequest = 'r';
constexpr uint8_t kRouteRelease = 'x';

// True when the datagram is taken as a RelayPacket at all.
inline bool IsAccepted(std::span<const uint8_t> datagram) {
  return datagram.size() >= kMinimumSize && datagram[0] == kMagic0 && datagram[1] == kMagic1;
}

inline void WriteHeader(std::span<uint8_t, kHeaderSize> p, uint8_t command, uint8_t count) {
  p[0] = kMagic0;
  p[1] = kMagic1;
  p[kCommandOffset] = command;
  p[kCountOffset] = count;
}

// The record form: "pr", command, count byte, then the record.
inline void WriteRecordForm(std::span<uint8_t, kRecordFormSize> out, uint8_t command, uint8_t count,
                            const ClientRecord& record) {
  WriteHeader(out.first<kHeaderSize>(), command, count);
  std::copy(record.bytes.begin(), record.bytes.end(), out.begin() + kRecordOffset);
}

}  // namespace relay_packet

// A received datagram taken as a RelayPacket. Only Of() makes one, after
// checking its first 120 bytes are there; every accessor but targetName()
// reads only those. Inline and allocation-free: the receive thread's parser.
// Byte is uint8_t for the receive thread's in-place edits ("e" becomes "g",
// the name's last byte is zeroed), const uint8_t to read only.
template <typename Byte>
class BasicRelayPacketView {
 public:
  static constexpr bool kMutable = !std::is_const_v<Byte>;

  static std::optional<BasicRelayPacketView> Of(std::span<Byte> datagram) {
    if (!relay_packet::IsAccepted(datagram)) return std::nullopt;
    return BasicRelayPacketView(datagram);
  }

  // A view that may edit is also one that reads.
  template <typename Other>
  requires(!kMutable && std::is_same_v<Other, uint8_t>)
      BasicRelayPacketView(const BasicRelayPacketView<Other>& other)
      : bytes_(other.bytes()) {}

  std::span<Byte> bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }
  uint8_t letter() const { return bytes_[relay_packet::kCommandOffset]; }
  uint8_t count() const { return bytes_[relay_packet::kCountOffset]; }
  // The record form: header and record, the first 120 bytes.
  std::span<Byte, relay_packet::kRecordFormSize> recordForm() const {
    return bytes_.template first<relay_packet::kRecordFormSize>();
  }
  ClientRecord record() const {
    return ClientRecord::FromBytes(
        bytes_.template subspan<relay_packet::kRecordOffset, client_record::kSize>());
  }
  bool isRouteForm() const { return bytes_.size() >= relay_packet::kRouteFormSize; }
  // "p": the target's name, or nullopt when its zero byte is not inside the datagram.
  std::optional<std::string_view> targetName() const {
    return WireReader(bytes_).TerminatedText(relay_packet::kTargetNameOffset);
  }

  void set_letter(uint8_t letter) const requires kMutable {
    bytes_[relay_packet::kCommandOffset] = letter;
  }
  void set_record(const ClientRecord& record) const requires kMutable {
    std::copy(record.bytes.begin(), record.bytes.end(),
              bytes_.begin() + relay_packet::kRecordOffset);
  }
  // Zeroes the record name's last byte, so a name has at most 31 characters.
  void TerminateName() const requires kMutable { bytes_[relay_packet::kNameTerminatorOffset] = 0; }

 private:
  explicit BasicRelayPacketView(std::span<Byte> datagram) : bytes_(datagram) {}

  std::span<Byte> bytes_;
};

using RelayPacketView = BasicRelayPacketView<const uint8_t>;
using MutableRelayPacketView = BasicRelayPacketView<uint8_t>;

}  // namespace halvyn
