#include "tools/devsim/register_image.h"

#include <algorithm>
#include <cstdio>

#include "devicelink/device_write_packet.h"
#include "platform/wire_reader.h"

namespace halvyn::devsim {

namespace {

constexpr size_t kPrefixSize = sizeof device_write_packet::kPrefix;
constexpr size_t kBlockHeaderSize = 6;  // register, flags/length, two zero bytes
constexpr size_t kSingleWriteSize = 8;  // register, 0x80 00 00 00, value
constexpr uint8_t kBlockFlags = 0xC0;
constexpr uint8_t kSingleFlags = 0x80;

}  // namespace

AppliedDatagram RegisterImage::Apply(std::span<const uint8_t> datagram) {
  AppliedDatagram applied;
  const WireReader wire(datagram);
  const auto prefix = wire.Fixed<kPrefixSize>(0);
  if (!prefix || !std::equal(prefix->begin(), prefix->end(), device_write_packet::kPrefix))
    return applied;
  const size_t size = wire.size();
  size_t at = kPrefixSize;
  bool first = true;
  while (at < size) {
    if (!wire.Has(at, 4)) {
      applied.malformed = true;
      break;
    }
    const uint16_t registerAddress = *wire.Be16(at);
    const uint8_t flags = *wire.U8(at + 2);
    if ((flags & kBlockFlags) == kBlockFlags) {
      const size_t length = *wire.Be16(at + 2) & 0x0FFF;
      if (first) {
        applied.kind = AppliedDatagram::Kind::kBlockWrite;
        applied.firstRegister = registerAddress;
        applied.length = length;
      }
      const size_t dataAt = at + kBlockHeaderSize;
      const WireReader data(wire.Rest(dataAt));
      const size_t usable = std::min(length, data.size());
      for (size_t i = 0; i + 1 < usable; i += 2) {
        registers_[uint16_t(registerAddress + i / 2)] = *data.Be16(i);
        ++applied.registersWritten;
      }
      if (usable < length) {
        applied.malformed = true;
        break;
      }
      at = dataAt + length;
    } else if (flags == kSingleFlags && wire.Has(at, kSingleWriteSize)) {
      if (first) {
        applied.kind = AppliedDatagram::Kind::kSetup;
        applied.firstRegister = registerAddress;
        applied.length = size - kPrefixSize;
      }
      registers_[registerAddress] = *wire.Be16(at + 6);
      ++applied.registersWritten;
      at += kSingleWriteSize;
    } else {
      applied.malformed = true;
      break;
    }
    first = false;
  }
  return applied;
}

uint16_t RegisterImage::Get(uint16_t registerAddress) const {
  auto entry = registers_.find(registerAddress);
  return entry == registers_.end() ? 0 : entry->second;
}

std::string RegisterImage::DumpText(uint64_t datagramCount) const {
  std::string text = "datagrams " + std::to_string(datagramCount) + "\n";
  char line[32];
  for (const auto& [registerAddress, value] : registers_) {
    std::snprintf(line, sizeof line, "0x%04X 0x%04X\n", registerAddress, value);
    text += line;
  }
  return text;
}

}  // namespace halvyn::devsim
