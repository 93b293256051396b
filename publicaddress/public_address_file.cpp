#include "publicaddress/public_address_file.h"

#include <cstdio>
#include <memory>

#include "platform/atomic_file.h"

namespace halvyn {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads one line ended by LF, CR LF or the end of the file, without its
// terminator. A CR is dropped only when an LF follows it. False when the file
// has no more characters.
bool ReadLine(std::FILE* file, std::string* line) {
  line->clear();
  int c = std::getc(file);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::getc(file)) line->push_back(char(c));
  if (c == '\n' && !line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

uint32_t ParseRelayPortLine(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && IsSpace(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    ++i;
  }
  uint32_t value = 0;  // unsigned, so long digit strings wrap instead of overflowing
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    value = value * 10 + uint32_t(line[i] - '0');
  }
  return negative ? 0u - value : value;
}

std::optional<PublicAddressFileContents> LoadPublicAddressFile(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  PublicAddressFileContents contents;
  std::string portLine;
  ReadLine(file.get(), &contents.publicAddressText);
  ReadLine(file.get(), &portLine);
  // A read error (the path names a folder, an I/O error) counts as no file.
  if (std::ferror(file.get())) return std::nullopt;
  contents.relayPort = ParseRelayPortLine(portLine);
  return contents;
}

std::string PublicAddressFileFailureMessage(std::string_view error) {
  return "The public address is shown but not kept: " + std::string(error);
}

std::string FormatPublicAddressFile(std::string_view publicAddressText, uint32_t relayPort) {
  std::string text(publicAddressText);
  text += "\r\n";
  text += std::to_string(int32_t(relayPort));
  text += "\r\n";
  return text;
}

bool SavePublicAddressFile(const std::string& path, std::string_view publicAddressText,
                           uint32_t relayPort, std::string* error) {
  return ReplaceFileContents(path, FormatPublicAddressFile(publicAddressText, relayPort), error);
}

}  // namespace halvyn
