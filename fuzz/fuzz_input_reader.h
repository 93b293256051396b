// Reads a fuzzer's input as a stream of operands; reading past its end gives
// zeros (and empty spans), so every input is a complete sequence of steps.
// The bounds are WireReader's; this adds the cursor and the zeros.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/wire_reader.h"

namespace halvyn {

class FuzzInputReader {
 public:
  FuzzInputReader(const uint8_t* data, size_t size) : reader_({data, size}) {}
  bool done() const { return offset_ >= reader_.size(); }
  uint8_t Byte() {
    const uint8_t byte = reader_.U8(offset_).value_or(0);
    offset_ = std::min(offset_ + 1, reader_.size());
    return byte;
  }
  uint16_t Le16() {
    const uint8_t low = Byte();
    return uint16_t(low | (Byte() << 8));
  }
  // Up to n bytes of the input (fewer at its end).
  std::span<const uint8_t> Bytes(size_t n) {
    const std::span<const uint8_t> rest = reader_.Rest(offset_);
    const std::span<const uint8_t> bytes = rest.first(std::min(n, rest.size()));
    offset_ += bytes.size();
    return bytes;
  }

 private:
  WireReader reader_;
  size_t offset_ = 0;
};

}  // namespace halvyn
