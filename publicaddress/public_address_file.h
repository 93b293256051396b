// server.txt: the public address and the relay port, kept across restarts.
//
// Exactly two lines of single-byte text, each ended by CR LF:
//   line 1  the public address text, e.g. 203.0.113.5
//   line 2  the relay port in signed decimal ("%d" of the 32-bit value, so
//           4294967295 is written -1 and reads back as 4294967295)
// Reading also accepts lines ended by LF alone, a last line ended by the end
// of the file, and ignores anything after line 2.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace halvyn {

// Kept in the working directory.
inline constexpr const char* kPublicAddressFileName = "server.txt";

struct PublicAddressFileContents {
  std::string publicAddressText;  // line 1 as it stands, without its terminator
  uint32_t relayPort = 0;         // line 2 read by ParseRelayPortLine; 0 when missing
};

// Reads the file at path. nullopt when it cannot be opened or read, so the
// caller keeps its defaults (empty address, port 7002). An empty file gives
// an empty address and port 0. Any thread; touches no window state.
std::optional<PublicAddressFileContents> LoadPublicAddressFile(const std::string& path);

// Replaces the file at path with the two lines, all or nothing (see
// ReplaceFileContents in platform/atomic_file.h): on failure the old file is
// kept and *error (when not null) says what failed, for stderr. Any thread.
[[nodiscard]] bool SavePublicAddressFile(const std::string& path,
                                         std::string_view publicAddressText, uint32_t relayPort,
                                         std::string* error);

// The operator's message box when a save failed; error is what
// SavePublicAddressFile reported, e.g. "cannot write server.txt: Is a directory".
std::string PublicAddressFileFailureMessage(std::string_view error);

// The exact bytes SavePublicAddressFile writes.
std::string FormatPublicAddressFile(std::string_view publicAddressText, uint32_t relayPort);

// The number at the start of a line read as a signed decimal: leading white
// space skipped, an optional sign, then digits up to the first non-digit; 0
// when there are none. The value is taken modulo 2^32 and returned as its
// unsigned 32 bits, so "-1" gives 4294967295.
uint32_t ParseRelayPortLine(std::string_view line);

}  // namespace halvyn
