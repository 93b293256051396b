// GoogleTest helpers for tests that use the network rig.
#pragma once

#include <gtest/gtest.h>

#include "tests/rig/network_rig.h"

// Skips the current test when network namespaces cannot be created here.
#define HALVYN_REQUIRE_NETNS()                                                                 \
  do {                                                                                         \
    std::string halvynWhy;                                                                     \
    if (!::halvyn::testing::rig::NetworkRig::Permitted(&halvynWhy)) GTEST_SKIP() << halvynWhy; \
  } while (0)
