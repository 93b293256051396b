#include "tests/soak/device_image.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace halvyn::testing::soak {

std::optional<DeviceImage> DeviceImage::Read(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  DeviceImage image;
  unsigned long long count = 0;
  if (!std::getline(file, line) || std::sscanf(line.c_str(), "datagrams %llu", &count) != 1)
    return std::nullopt;
  image.datagrams_ = count;
  while (std::getline(file, line)) {
    unsigned address = 0;
    unsigned value = 0;
    if (std::sscanf(line.c_str(), "0x%x 0x%x", &address, &value) != 2 || address > 0xFFFF ||
        value > 0xFFFF)
      return std::nullopt;
    image.registers_[uint16_t(address)] = uint16_t(value);
  }
  return image;
}

std::vector<uint8_t> DeviceImage::Block(uint16_t firstRegister, size_t length) const {
  std::vector<uint8_t> bytes;
  for (size_t r = 0; bytes.size() < length; ++r) {
    const auto found = registers_.find(uint16_t(firstRegister + r));
    const uint16_t value = found == registers_.end() ? 0 : found->second;
    bytes.push_back(uint8_t(value >> 8));
    if (bytes.size() < length) bytes.push_back(uint8_t(value));
  }
  return bytes;
}

}  // namespace halvyn::testing::soak
