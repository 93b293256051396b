// Generated at build time from console/web/page/ (see cmake/embed_page.cmake).
#pragma once

#include <span>

#include "console/web/console_assets.h"

namespace halvyn {

std::span<const ConsoleAsset> EmbeddedPageFiles();

}  // namespace halvyn
