// libFuzzer target for server.txt: the input is the file's contents.
//
// LoadPublicAddressFile must read it as two lines (LF or CR LF, the last one
// maybe unterminated, anything after line 2 ignored) and ParseRelayPortLine
// must agree with an independent reading of the port line. Whatever was read
// must survive SavePublicAddressFile and a second load unchanged.
// Seeds: fuzz/corpus/public_address_file/.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ipv4.h"
#include "publicaddress/public_address_file.h"

namespace halvyn {
namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "server.txt fuzzer: %s\n", what);
  std::abort();
}

// A folder of this process's own for the files, on tmpfs when there is one
// (saving syncs the file to disk). Removed at exit; never freed, so the exit
// handler can still read it.
const std::string& WorkFolder() {
  static const std::string* const folder = [] {
    auto* path = new std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    *path += "/halvyn-fuzz-XXXXXX";
    Check(mkdtemp(path->data()) != nullptr, "cannot make a work folder");
    std::atexit([] {
      std::remove((WorkFolder() + "/server.txt").c_str());
      std::remove(WorkFolder().c_str());
    });
    return path;
  }();
  return *folder;
}

// Line `index` (0 or 1) of the text: ended by LF, CR LF or the end; none when
// the text has no characters left for it.
std::optional<std::string_view> LineOf(std::string_view text, int index) {
  for (int i = 0;; ++i) {
    if (text.empty()) return std::nullopt;
    const size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    if (i == index) return line;
    if (lf == std::string_view::npos) return std::nullopt;
    text.remove_prefix(lf + 1);
  }
}

// The port line as a 64-bit sum taken modulo 2^32 digit by digit.
uint32_t ReferencePort(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && std::string_view(" \t\n\v\f\r").find(line[i]) != std::string_view::npos)
    ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  uint64_t value = 0;
  size_t digits = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i, ++digits)
    value = (value * 10 + uint64_t(line[i] - '0')) % (uint64_t(1) << 32);
  const uint32_t port = negative ? uint32_t(0u - uint32_t(value)) : uint32_t(value);
  // For short numbers, the C library must agree (it reads the same white space and sign).
  if (digits <= 9 && line.find('\0') == std::string_view::npos) {
    const std::string copy(line);
    Check(uint32_t(std::strtol(copy.c_str(), nullptr, 10)) == port, "strtol disagrees");
  }
  return port;
}

void CheckFile(std::string_view contents) {
  const std::string path = WorkFolder() + "/server.txt";
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr, "cannot write the file");
    Check(std::fwrite(contents.data(), 1, contents.size(), file) == contents.size(), "short write");
    std::fclose(file);
  }

  const auto loaded = LoadPublicAddressFile(path);
  Check(loaded.has_value(), "an existing file did not load");
  Check(loaded->publicAddressText == LineOf(contents, 0).value_or(""), "line 1 read wrongly");
  const std::string_view portLine = LineOf(contents, 1).value_or("");
  Check(ParseRelayPortLine(portLine) == ReferencePort(portLine), "the port line read wrongly");
  Check(loaded->relayPort == ReferencePort(portLine), "the relay port read wrongly");

  // Whatever was read, saving and loading again gives it back.
  std::string error;
  Check(SavePublicAddressFile(path, loaded->publicAddressText, loaded->relayPort, &error),
        "saving failed");
  const auto again = LoadPublicAddressFile(path);
  Check(again.has_value(), "a saved file did not load");
  Check(again->publicAddressText == loaded->publicAddressText, "the address did not round-trip");
  Check(again->relayPort == loaded->relayPort, "the port did not round-trip");

  // A dotted address is saved as the text the window would show for it.
  if (const auto address = ParseDotted(loaded->publicAddressText)) {
    Check(ParseDotted(DottedText(*address)) == address, "a dotted address did not round-trip");
  }
}

}  // namespace
}  // namespace halvyn

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view contents(reinterpret_cast<const char*>(data), size);
  // The parser also sees any bytes at all, not only a line.
  halvyn::ParseRelayPortLine(contents);
  halvyn::CheckFile(contents);
  return 0;
}
