// Whether this test process runs in a network namespace of its own
// (see private_network_main.cpp).
#pragma once

#include <gtest/gtest.h>

namespace halvyn::testing {

extern bool privateNetwork;

#define REQUIRE_PRIVATE_NETWORK()                                        \
  do {                                                                   \
    if (!::halvyn::testing::privateNetwork)                              \
      GTEST_SKIP() << "needs a private network namespace (run as root)"; \
  } while (0)

}  // namespace halvyn::testing
