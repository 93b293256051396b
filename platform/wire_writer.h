// WireWriter: bounded writes of a wire record's fields at fixed offsets.
//
// Every write names its byte order and is checked against the buffer's length
// first. A write that would not fit writes nothing and puts the writer into a
// failed state in which it writes nothing more (ok() is false from then on),
// so a builder checks once at its end. Header-only and allocation-free. A view: the buffer must
// outlive the writer. Any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/byte_order.h"

namespace halvyn {

class WireWriter {
 public:
  explicit WireWriter(std::span<uint8_t> buffer) : buffer_(buffer) {}

  // False once a write did not fit.
  bool ok() const { return ok_; }
  size_t size() const { return buffer_.size(); }

  WireWriter& U8(size_t offset, uint8_t value) {
    if (Fits(offset, 1)) buffer_[offset] = value;
    return *this;
  }
  WireWriter& Le16(size_t offset, uint16_t value) {
    if (Fits(offset, 2)) StoreLe16(buffer_.data() + offset, value);
    return *this;
  }
  WireWriter& Be16(size_t offset, uint16_t value) {
    if (Fits(offset, 2)) StoreBe16(buffer_.data() + offset, value);
    return *this;
  }
  WireWriter& Le32(size_t offset, uint32_t value) {
    if (Fits(offset, 4)) StoreLe32(buffer_.data() + offset, value);
    return *this;
  }
  WireWriter& Be32(size_t offset, uint32_t value) {
    if (Fits(offset, 4)) StoreBe32(buffer_.data() + offset, value);
    return *this;
  }
  // An IPv4 address's four bytes as they travel (network order).
  WireWriter& NetworkAddress(size_t offset, uint32_t networkOrder) {
    if (Fits(offset, 4)) StoreNetworkAddress(buffer_.data() + offset, networkOrder);
    return *this;
  }
  WireWriter& Bytes(size_t offset, std::span<const uint8_t> bytes) {
    if (Fits(offset, bytes.size())) std::copy(bytes.begin(), bytes.end(), buffer_.begin() + offset);
    return *this;
  }
  WireWriter& Fill(size_t offset, size_t n, uint8_t value) {
    if (Fits(offset, n)) std::fill_n(buffer_.begin() + offset, n, value);
    return *this;
  }
  // The text's bytes from offset (no terminator: the field's other bytes are
  // left as they are).
  WireWriter& Text(size_t offset, std::string_view text) {
    return Bytes(offset, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  }

 private:
  bool Fits(size_t offset, size_t width) {
    ok_ = ok_ && width <= buffer_.size() && offset <= buffer_.size() - width;
    return ok_;
  }

  std::span<uint8_t> buffer_;
  bool ok_ = true;
};

}  // namespace halvyn
