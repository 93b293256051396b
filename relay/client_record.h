// ClientRecord: the 116-byte record by which a remote client introduces itself.
//
//   offset width field       byte order
//   0      32    name        8-bit text, NUL-terminated; byte 31 is always 0 on receipt
//   32     16    (client)    passed on unchanged
//   48     4     ip          IPv4, network order   (server fills in at login)
//   52     2     port        little-endian         (server: login and keep-alive)
//   54     2     (client)
//   56     4     p2p_ip      as the client gives it
//   60     2     p2p_port    as the client gives it; shown as little-endian
//   62     2     (client)
//   64     4     last_seen   little-endian ms tick (server: login and keep-alive)
//   68     48    (client)
//
// Every byte the server does not fill in is the client's and travels unchanged.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "platform/byte_order.h"

namespace halvyn {

namespace client_record {

inline constexpr size_t kSize = 116;
inline constexpr size_t kNameOffset = 0;
inline constexpr size_t kNameCapacity = 32;  // 31 characters and the terminating zero
inline constexpr size_t kIpOffset = 48;
inline constexpr size_t kPortOffset = 52;
inline constexpr size_t kP2pIpOffset = 56;
inline constexpr size_t kP2pPortOffset = 60;
inline constexpr size_t kLastSeenOffset = 64;
// The client's own bytes after last_seen.
inline constexpr size_t kClientTailOffset = 68;

}  // namespace client_record

// A record by value: its 116 bytes, read and written through the offsets above.
struct ClientRecord {
  std::array<uint8_t, client_record::kSize> bytes{};

  static ClientRecord FromBytes(std::span<const uint8_t, client_record::kSize> wire) {
    ClientRecord record;
    std::copy(wire.begin(), wire.end(), record.bytes.begin());
    return record;
  }
  // The record at offset in bytes, or nothing when it does not fit there.
  static std::optional<ClientRecord> At(std::span<const uint8_t> bytes, size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < client_record::kSize) return std::nullopt;
    return FromBytes(bytes.subspan(offset).first<client_record::kSize>());
  }

  // The name up to its first zero byte (at most 32 bytes are looked at).
  std::string_view name() const {
    using namespace client_record;
    const char* text = reinterpret_cast<const char*>(bytes.data() + kNameOffset);
    const void* zero = std::memchr(text, 0, kNameCapacity);
    return {text, zero ? size_t(static_cast<const char*>(zero) - text) : kNameCapacity};
  }
  void set_name(std::string_view text) {
    using namespace client_record;
    std::memset(bytes.data() + kNameOffset, 0, kNameCapacity);
    std::memcpy(bytes.data() + kNameOffset, text.data(), std::min(text.size(), kNameCapacity - 1));
  }

  uint32_t ip() const { return LoadNetworkAddress(&bytes[client_record::kIpOffset]); }
  void set_ip(uint32_t networkOrder) {
    StoreNetworkAddress(&bytes[client_record::kIpOffset], networkOrder);
  }
  uint16_t port() const { return LoadLe16(&bytes[client_record::kPortOffset]); }
  void set_port(uint16_t port) { StoreLe16(&bytes[client_record::kPortOffset], port); }
  // p2p_ip is opaque to the server: its four bytes as they came.
  uint32_t p2p_ip() const { return LoadNetworkAddress(&bytes[client_record::kP2pIpOffset]); }
  void set_p2p_ip(uint32_t raw) { StoreNetworkAddress(&bytes[client_record::kP2pIpOffset], raw); }
  uint16_t p2p_port() const { return LoadLe16(&bytes[client_record::kP2pPortOffset]); }
  void set_p2p_port(uint16_t port) { StoreLe16(&bytes[client_record::kP2pPortOffset], port); }
  uint32_t last_seen() const { return LoadLe32(&bytes[client_record::kLastSeenOffset]); }
  void set_last_seen(uint32_t tick) { StoreLe32(&bytes[client_record::kLastSeenOffset], tick); }

  bool operator==(const ClientRecord&) const = default;
};

}  // namespace halvyn
