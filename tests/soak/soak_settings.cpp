#include "tests/soak/soak_settings.h"

#include <chrono>
#include <cstdlib>

namespace halvyn::testing::soak {

SoakSettings SoakSettings::FromEnvironment() {
  SoakSettings settings;
  if (const char* seconds = std::getenv("HALVYN_SOAK_SECONDS"); seconds && *seconds)
    settings.seconds = std::max<int64_t>(30, std::strtoll(seconds, nullptr, 10));
  if (const char* seed = std::getenv("HALVYN_SOAK_SEED"); seed && *seed) {
    settings.seed = std::strtoull(seed, nullptr, 10);
  } else {
    settings.seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  return settings;
}

std::string SoakSettings::Describe() const {
  return "soak: " + std::to_string(seconds) + " s, seed " + std::to_string(seed) +
         " (replay with HALVYN_SOAK_SEED=" + std::to_string(seed) + "), time scale " +
         std::to_string(testing::kTimeScale);
}

}  // namespace halvyn::testing::soak
