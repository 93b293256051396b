// WireReader: bounded reads of a wire record's fields at fixed offsets.
//
// Every read names its byte order and is checked against the record's length
// first: a field that does not lie wholly inside the bytes reads as nullopt
// (or an empty text), never past the end. Header-only and allocation-free, so
// a parser on the receive path costs what the raw offset arithmetic did.
// A view: the bytes must outlive the reader. Any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/byte_order.h"

namespace halvyn {

class WireReader {
 public:
  explicit WireReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t size() const { return bytes_.size(); }
  std::span<const uint8_t> bytes() const { return bytes_; }

  // True when width bytes from offset lie inside the record.
  bool Has(size_t offset, size_t width) const {
    return width <= bytes_.size() && offset <= bytes_.size() - width;
  }

  std::optional<uint8_t> U8(size_t offset) const {
    if (!Has(offset, 1)) return std::nullopt;
    return bytes_[offset];
  }
  std::optional<uint16_t> Le16(size_t offset) const {
    if (!Has(offset, 2)) return std::nullopt;
    return LoadLe16(bytes_.data() + offset);
  }
  std::optional<uint16_t> Be16(size_t offset) const {
    if (!Has(offset, 2)) return std::nullopt;
    return LoadBe16(bytes_.data() + offset);
  }
  std::optional<uint32_t> Le32(size_t offset) const {
    if (!Has(offset, 4)) return std::nullopt;
    return LoadLe32(bytes_.data() + offset);
  }
  std::optional<uint32_t> Be32(size_t offset) const {
    if (!Has(offset, 4)) return std::nullopt;
    return LoadBe32(bytes_.data() + offset);
  }
  // An IPv4 address's four bytes as they travel (network order).
  std::optional<uint32_t> NetworkAddress(size_t offset) const {
    if (!Has(offset, 4)) return std::nullopt;
    return LoadNetworkAddress(bytes_.data() + offset);
  }

  // The n bytes from offset.
  std::optional<std::span<const uint8_t>> Bytes(size_t offset, size_t n) const {
    if (!Has(offset, n)) return std::nullopt;
    return bytes_.subspan(offset, n);
  }
  template <size_t N>
  std::optional<std::span<const uint8_t, N>> Fixed(size_t offset) const {
    if (!Has(offset, N)) return std::nullopt;
    return std::span<const uint8_t, N>(bytes_.data() + offset, N);
  }
  // The bytes from offset to the end (empty when offset is past it).
  std::span<const uint8_t> Rest(size_t offset) const {
    return offset < bytes_.size() ? bytes_.subspan(offset) : std::span<const uint8_t>();
  }

  // The text of at most maxLength bytes from offset, cut at the record's end
  // and at its first zero byte.
  std::string_view TextAt(size_t offset, size_t maxLength) const {
    const std::span<const uint8_t> room = Rest(offset);
    const std::string_view field = TextOf(room.first(std::min(maxLength, room.size())));
    const size_t zero = field.find('\0');
    return zero == std::string_view::npos ? field : field.substr(0, zero);
  }
  // The NUL-terminated text from offset, or nullopt when its zero byte is not
  // inside the record.
  std::optional<std::string_view> TerminatedText(size_t offset) const {
    const std::string_view room = TextOf(Rest(offset));
    const size_t zero = room.find('\0');
    if (zero == std::string_view::npos) return std::nullopt;
    return room.substr(0, zero);
  }

 private:
  static std::string_view TextOf(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }

  std::span<const uint8_t> bytes_;
};

}  // namespace halvyn
