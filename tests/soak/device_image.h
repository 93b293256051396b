// The register image a halvyn-devsim keeps in its dump file (--dump-file):
// "datagrams N", then one "0xRRRR 0xVVVV" line per register written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace halvyn::testing::soak {

class DeviceImage {
 public:
  // nullopt when the file cannot be read or is not such an image.
  static std::optional<DeviceImage> Read(const std::string& path);

  // `length` bytes from firstRegister on, each register high byte first
  // (registers never written read 0).
  std::vector<uint8_t> Block(uint16_t firstRegister, size_t length) const;
  uint64_t datagrams() const { return datagrams_; }

 private:
  uint64_t datagrams_ = 0;
  std::map<uint16_t, uint16_t> registers_;
};

}  // namespace halvyn::testing::soak
