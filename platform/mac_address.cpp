#include "platform/mac_address.h"

namespace halvyn {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string MacText(const MacAddress& mac, char separator) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < mac.size(); ++i) {
    if (i > 0) text += separator;
    text += kDigits[mac[i] >> 4];
    text += kDigits[mac[i] & 0x0F];
  }
  return text;
}

std::optional<MacAddress> ParseMac(std::string_view text) {
  // "xx?xx?xx?xx?xx?xx": 17 characters.
  if (text.size() != 17) return std::nullopt;
  const char separator = text[2];
  if (separator != ':' && separator != '-') return std::nullopt;
  MacAddress mac{};
  for (size_t i = 0; i < mac.size(); ++i) {
    const size_t at = i * 3;
    if (i > 0 && text[at - 1] != separator) return std::nullopt;
    const int high = HexDigit(text[at]);
    const int low = HexDigit(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    mac[i] = uint8_t(high << 4 | low);
  }
  return mac;
}

}  // namespace halvyn
