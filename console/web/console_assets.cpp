#include "console/web/console_assets.h"

#include "console/web/embedded_page.h"

namespace halvyn {

const ConsoleAsset* FindConsoleAsset(std::string_view name) {
  for (const ConsoleAsset& asset : EmbeddedPageFiles())
    if (asset.name == name) return &asset;
  return nullptr;
}

}  // namespace halvyn
