// The simulated device's 16-bit registers, changed by the datagrams that
// arrive on its register port.
//
// After "veltrw" a datagram holds commands, one after another:
//   block write   register (2, high byte first), 0xC0 | length bits 11..8,
//                 length bits 7..0, 0x00 0x00, then `length` data bytes;
//                 data byte pairs fill consecutive registers, high byte first
//   single write  register (2), 0x80, 0x00, 0x00, 0x00, value (2, high byte first)
// A register write datagram carries one block write; the set-up datagram eight
// single writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace halvyn::devsim {

struct AppliedDatagram {
  enum class Kind { kBlockWrite, kSetup, kUnknown };
  Kind kind = Kind::kUnknown;
  uint16_t firstRegister = 0;  // of the first command
  size_t length = 0;           // block: its length field; set-up: bytes after "veltrw"
  size_t registersWritten = 0;
  bool malformed = false;  // stopped early: unknown command or a block running past the end
};

class RegisterImage {
 public:
  AppliedDatagram Apply(std::span<const uint8_t> datagram);

  // 0 for a register never written.
  uint16_t Get(uint16_t registerAddress) const;
  // Every register written so far, ascending.
  const std::map<uint16_t, uint16_t>& written() const { return registers_; }

  // "datagrams N" then one "0xRRRR 0xVVVV" line per written register.
  std::string DumpText(uint64_t datagramCount) const;

 private:
  std::map<uint16_t, uint16_t> registers_;
};

}  // namespace halvyn::devsim
