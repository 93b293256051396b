// The console page's files, embedded into the binary at build time.
#pragma once

#include <string_view>

namespace halvyn {

struct ConsoleAsset {
  std::string_view name;
  std::string_view contentType;
  std::string_view body;
};

// The asset with this file name, or null.
const ConsoleAsset* FindConsoleAsset(std::string_view name);

}  // namespace halvyn
