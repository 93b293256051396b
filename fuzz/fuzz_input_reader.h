// Reads a fuzzer's input as a stream of operands; reading past its end gives
// zeros (and empty spans), so every input is a complete sequence of steps.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace halvyn {

class FuzzInputReader {
 public:
  FuzzInputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return offset_ >= size_; }
  uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
  uint16_t Le16() {
    const uint8_t low = Byte();
    return uint16_t(low | (Byte() << 8));
  }
  // Up to n bytes of the input (fewer at its end).
  std::span<const uint8_t> Bytes(size_t n) {
    n = std::min(n, size_ - std::min(offset_, size_));
    std::span<const uint8_t> bytes(data_ + offset_, n);
    offset_ += n;
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

}  // namespace halvyn
