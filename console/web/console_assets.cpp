#include "console/web/console_assets.h"

#include <httplib.h>

#include "console/web/embedded_page.h"

namespace halvyn {

const ConsoleAsset* FindConsoleAsset(std::string_view name) {
  for (const ConsoleAsset& asset : EmbeddedPageFiles())
    if (asset.name == name) return &asset;
  return nullptr;
}

void ServeAsset(std::string_view name, httplib::Response& res) {
  const ConsoleAsset* asset = FindConsoleAsset(name);
  if (!asset) {
    res.status = 404;
    res.set_content(R"({"error":"not found"})", "application/json");
    return;
  }
  res.set_header("Cache-Control", "no-cache");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
  res.set_content(std::string(asset->body), std::string(asset->contentType));
}

}  // namespace halvyn
