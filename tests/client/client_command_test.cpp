// Parsing of halvyn-client's command line and of its scripted commands.
#include "tools/client/client_command.h"

#include <gtest/gtest.h>

#include "tools/client/client_options.h"

namespace halvyn {
namespace {

using Kind = ClientCommand::Kind;

ClientCommand Parse(std::string_view line) {
  std::string error;
  const auto command = ParseClientCommand(line, error);
  EXPECT_TRUE(command) << line << ": " << error;
  return command.value_or(ClientCommand{});
}

std::string ErrorOf(std::string_view line) {
  std::string error;
  EXPECT_FALSE(ParseClientCommand(line, error)) << line;
  return error;
}

TEST(ClientCommand, SimpleCommandsAndBlankOrCommentLines) {
  EXPECT_EQ(Parse("login").kind, Kind::kLogin);
  EXPECT_EQ(Parse("  logout\t").kind, Kind::kLogout);
  EXPECT_EQ(Parse("quit").kind, Kind::kQuit);
  EXPECT_EQ(Parse("").kind, Kind::kNothing);
  EXPECT_EQ(Parse("# login").kind, Kind::kNothing);
  EXPECT_EQ(Parse("keepalive").p2p, std::nullopt);
  EXPECT_EQ(Parse("connect beta").text, "beta");
  EXPECT_EQ(Parse("echo step  two").text, "step two");
}

TEST(ClientCommand, P2pAddressesAndSlotPorts) {
  const ClientCommand keepalive = Parse("keepalive 10.1.2.3 4000");
  EXPECT_EQ(keepalive.kind, Kind::kKeepAlive);
  EXPECT_EQ(keepalive.p2p, (Ipv4Endpoint{NetworkAddress(10, 1, 2, 3), 4000}));
  EXPECT_EQ(Parse("info 10.1.2.3 65535").p2p->port, 65535);
  EXPECT_EQ(Parse("probe 14367").port, 14367);
  EXPECT_EQ(Parse("release 14398").kind, Kind::kRelease);
  ErrorOf("keepalive 10.1.2.3");
  ErrorOf("info 10.1.2 4000");
  ErrorOf("info 10.1.2.3 65536");
  ErrorOf("probe -1");
  ErrorOf("release");
}

TEST(ClientCommand, RouteWithAddressesFromTheListAndAParameter) {
  const RouteArguments route = Parse("route alpha 198.51.100.7:5000 2 beta - 3 0x1234").route;
  EXPECT_EQ(route.txName, "alpha");
  EXPECT_EQ(route.tx, (Ipv4Endpoint{NetworkAddress(198, 51, 100, 7), 5000}));
  EXPECT_EQ(route.txChanCount, 2);
  EXPECT_EQ(route.rxName, "beta");
  EXPECT_EQ(route.rx, std::nullopt);
  EXPECT_EQ(route.rxChanCount, 3);
  EXPECT_EQ(route.txParam, 0x1234);
  EXPECT_EQ(Parse("route a 1.2.3.4:5 1 b 1.2.3.4:6 1").route.txParam, 0);
  EXPECT_EQ(Parse("route a 1.2.3.4:5 1 b 1.2.3.4:6 1 300").route.txParam, 300);
  ErrorOf("route a 1.2.3.4:5 1 b 1.2.3.4:6");
  ErrorOf("route a 1.2.3.4 1 b 1.2.3.4:6 1");
  ErrorOf("route a 1.2.3.4:5 256 b 1.2.3.4:6 1");
  ErrorOf("route a 1.2.3.4:5 1 b 1.2.3.4:6 1 0x10000");
}

TEST(ClientCommand, WaitAndExpectTakeSeconds) {
  EXPECT_EQ(Parse("wait 1.5").milliseconds, 1500u);
  EXPECT_EQ(Parse("wait 0").milliseconds, 0u);
  const ClientCommand expect = Parse("expect g");
  EXPECT_EQ(expect.text, "g");
  EXPECT_EQ(expect.milliseconds, 3000u);
  EXPECT_EQ(Parse("expect h 0.25").milliseconds, 250u);
  ErrorOf("wait -1");
  ErrorOf("wait soon");
  ErrorOf("wait 86400");
  ErrorOf("expect gh");
}

TEST(ClientCommand, UnknownCommandsAndCheckInAScript) {
  EXPECT_EQ(ErrorOf("fly away"), "unknown command: fly");
  EXPECT_EQ(ErrorOf("login now"), "wrong number of arguments for login");
  EXPECT_NE(ErrorOf("check").find("check runs alone"), std::string::npos);
}

TEST(ClientCommand, CommandLineWordsGroupIntoCommands) {
  EXPECT_EQ(GroupCommandWords({"login", "keepalive", "connect", "login", "wait", "1", "quit"}),
            (std::vector<std::string>{"login", "keepalive", "connect login", "wait 1", "quit"}));
  EXPECT_EQ(GroupCommandWords({"keepalive", "10.0.0.1", "5", "echo", "a", "b", "logout"}),
            (std::vector<std::string>{"keepalive 10.0.0.1 5", "echo a b", "logout"}));
  EXPECT_EQ(GroupCommandWords({"connect beta", "route", "a", "-", "1", "b", "-", "1", "login"}),
            (std::vector<std::string>{"connect beta", "route a - 1 b - 1", "login"}));
}

std::optional<ClientOptions> Options(std::vector<std::string> args, std::string* error = nullptr) {
  std::string ignored;
  return ParseClientOptions(args, error ? *error : ignored);
}

TEST(ClientOptions, ServerBindNameAndCommands) {
  const auto options =
      Options({"--server", "relay.example:7100", "--bind", "127.0.0.2:5000", "--name", "alpha",
               "--p2p", "10.1.2.3:4000", "--keepalive-interval", "500", "login", "wait", "2"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->serverHost, "relay.example");
  EXPECT_EQ(options->serverPort, 7100);
  EXPECT_EQ(options->bind, (Ipv4Endpoint{NetworkAddress(127, 0, 0, 2), 5000}));
  EXPECT_EQ(options->name, "alpha");
  EXPECT_EQ(options->p2p, (Ipv4Endpoint{NetworkAddress(10, 1, 2, 3), 4000}));
  EXPECT_EQ(options->keepAliveIntervalMs, 500u);
  EXPECT_EQ(options->commands, (std::vector<std::string>{"login", "wait 2"}));
  EXPECT_FALSE(options->check);

  const auto defaults = Options({"--server", "10.0.0.1", "--name", "b"});
  EXPECT_EQ(defaults->serverPort, 7002);
  EXPECT_TRUE(defaults->commands.empty());  // read from stdin
}

TEST(ClientOptions, CheckRunsAloneWithoutAName) {
  const auto check = Options({"--server", "127.0.0.1:7002", "--timeout", "500", "check"});
  ASSERT_TRUE(check);
  EXPECT_TRUE(check->check);
  EXPECT_EQ(check->timeoutMs, 500u);
  std::string error;
  EXPECT_FALSE(Options({"--name", "a", "login", "check"}, &error));
  EXPECT_EQ(error, "check runs alone");
  EXPECT_FALSE(Options({"login"}, &error));
  EXPECT_EQ(error, "--name is required");
  EXPECT_FALSE(Options({"--name", std::string(32, 'n')}, &error));
  EXPECT_FALSE(Options({"--name", "a", "--bind", "localhost:5"}, &error));
  EXPECT_FALSE(Options({"--name", "a", "--server", "host:99999"}, &error));
  EXPECT_FALSE(Options({"--name", "a", "--timeout", "0", "check"}, &error));
  EXPECT_FALSE(Options({"--name", "a", "--server"}, &error));
  EXPECT_EQ(error, "--server needs a value");
}

TEST(ClientOptions, OnlyDoubleDashWordsAreOptionsAndTheyAreSpeltOutInFull) {
  std::string error;
  const auto options = Options({"echo", "-x", "-", "--name", "a"}, &error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->commands, (std::vector<std::string>{"echo -x -"}));
  EXPECT_TRUE(Options({"-h"})->help);
  EXPECT_EQ(Options({"-1", "--name", "a"})->name, "a");
  for (const char* wrong : {"--nam", "--name=a", "--"}) {
    EXPECT_FALSE(Options({"--name", "a", wrong}, &error));
    EXPECT_EQ(error, std::string("unknown option ") + wrong);
  }
  EXPECT_FALSE(Options({"--name", "a", "--bind", "10.0.0.1:x"}, &error));
  EXPECT_EQ(error, "--bind takes ADDR or ADDR:PORT with a dotted address, not 10.0.0.1:x");
}

}  // namespace
}  // namespace halvyn
