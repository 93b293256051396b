// halvyn's command line: the console's limits, the console's address, and the
// words it does not take.
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

TEST(CommandLine, ConsoleTakesADottedAddressAndAPortFromOneTo65535) {
  std::string error;
  const auto line =
      ParseCommandLine({"--start", "--console", "10.0.0.5:8080", "--no-console"}, error);
  ASSERT_TRUE(line) << error;
  EXPECT_TRUE(line->start);
  EXPECT_FALSE(line->console);
  EXPECT_EQ(line->consoleAddress, "10.0.0.5");
  EXPECT_EQ(line->consolePort, 8080);
  for (const char* wrong :
       {"10.0.0.5", "10.0.0.5:0", "10.0.0.5:65536", "10.0.0.5:", "host:80", ":80", "10.0.0.5:8o"}) {
    error.clear();
    EXPECT_FALSE(ParseCommandLine({"--console", wrong}, error)) << wrong;
    EXPECT_EQ(error, "--console takes ADDR:PORT with an IPv4 address, for example 127.0.0.1:7080")
        << wrong;
  }
}

TEST(CommandLine, OptionsAreSpeltOutInFullWithTheirValueInTheNextWord) {
  std::string error;
  const auto line =
      ParseCommandLine({"--token", "--start", "-h", "--limit-bytes-per-ip", "7"}, error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->token, "--start");
  EXPECT_FALSE(line->start);
  EXPECT_TRUE(line->help);
  EXPECT_EQ(line->limits.bytesPerIp, 7u);
  const std::pair<std::vector<std::string>, std::string> wrong[] = {
      {{"--star"}, "unknown option: --star"},
      {{"--token=abc"}, "unknown option: --token=abc"},
      {{"--start=1"}, "unknown option: --start=1"},
      {{"--li", "5"}, "unknown option: --li"},
      {{"-hh"}, "unknown option: -hh"},
      {{"-x"}, "unknown option: -x"},
      {{"--"}, "unknown option: --"},
      {{"start"}, "unknown option: start"},
      {{"--start", "--token"}, "--token needs a value"},
      {{"--token", ""}, "--token must not be empty"},
      {{"--limit-names-per-ip", "4294967296"},
       "--limit-names-per-ip takes a whole number (0 turns the limit off)"},
      {{"--relay-receive-buffer", "1073741825"},
       "--relay-receive-buffer takes a number of bytes up to 1073741824"},
  };
  for (const auto& [args, message] : wrong) {
    error.clear();
    EXPECT_FALSE(ParseCommandLine(args, error)) << message;
    EXPECT_EQ(error, message);
  }
}

}  // namespace
}  // namespace halvyn
