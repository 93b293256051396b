// halvyn's command line: the console's limits.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace halvyn {
namespace {

TEST(CommandLine, ConsoleLimitsTakeFourNumbersFromOneTo100000) {
  std::string error;
  const auto line = ParseCommandLine({"--console-limits", "5,4,3,100000"}, error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->consoleLimits.connections, 5);
  EXPECT_EQ(line->consoleLimits.connectionsPerIp, 4);
  EXPECT_EQ(line->consoleLimits.eventStreams, 3);
  EXPECT_EQ(line->consoleLimits.headerSeconds, 100000);
  const auto defaults = ParseCommandLine({}, error);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->consoleLimits.connections, 256);
  for (const char* wrong : {"1,2,3", "1,2,3,4,", "0,1,1,1", "1,1,1,100001", "1,,1,1", "a,1,1,1"}) {
    error.clear();
    EXPECT_FALSE(ParseCommandLine({"--console-limits", wrong}, error)) << wrong;
    EXPECT_EQ(error,
              "--console-limits takes four numbers from 1 to 100000, for example 256,32,64,10")
        << wrong;
  }
}

}  // namespace
}  // namespace halvyn
