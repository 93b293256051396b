// The field check against stand-in relays that answer fully, partly or not
// at all: its verdict lines, its result, and what it sends.
#include "tools/client/relay_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "relay/relay_client_codec.h"
#include "relay/relay_packet.h"
#include "tests/client/fake_relay.h"

namespace halvyn {
namespace {

using ::testing::ElementsAre;
using testing::FakeRelay;
using ::testing::MatchesRegex;

constexpr uint32_t kStepMs = 200;

// Answers like a relay: "g" and the list to "e" and the connect request back
// to its sender; with answerAll false only "g".
FakeRelay::Answer Relay(bool answerAll) {
  return [answerAll](const std::vector<uint8_t>& datagram, Ipv4Endpoint source,
                     const UdpSocket& socket) {
    ClientRecord record = ClientRecord::At(datagram, 4).value();
    record.set_ip(source.address);
    record.set_port(source.port);
    if (datagram[2] == 'e') {
      socket.SendTo(BuildRecordPacket('g', record), source);
      if (answerAll) socket.SendTo(BuildRecordPacket('h', record), source);
    } else if (datagram[2] == 'p' && answerAll) {
      socket.SendTo(std::span(datagram).first(120), source);
    }
  };
}

class RelayCheckTest : public ::testing::Test {
 protected:
  RelayCheckTest() { socket.Bind({NetworkAddress(127, 0, 0, 1), 0}); }

  bool Check(Ipv4Endpoint server) {
    LineOutput out(text);
    return RunRelayCheck(socket, {server, "check-test", kStepMs, false}, out);
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(text.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string Here() const { return "127.0.0.1:" + std::to_string(socket.LocalEndpoint().port); }

  UdpSocket socket;
  std::ostringstream text;
};

TEST_F(RelayCheckTest, PassesAgainstARelayThatAnswersEverything) {
  FakeRelay relay(Relay(true));
  const std::string server = "127.0.0.1:" + std::to_string(relay.endpoint().port);
  EXPECT_TRUE(Check(relay.endpoint()));
  EXPECT_THAT(
      Lines(),
      ElementsAre("check server=" + server + " name=check-test",
                  MatchesRegex("PASS login [0-9]+\\.[0-9] ms seen_as=" + Here()),
                  MatchesRegex("PASS list [0-9]+\\.[0-9] ms count=1"), "PASS keepalive sent",
                  MatchesRegex("PASS connect [0-9]+\\.[0-9] ms"), "PASS logout sent", "OK"));
  ASSERT_TRUE(relay.WaitForCount(4));
  EXPECT_EQ(relay.letters(), "ekpf");
  const auto connect = relay.datagrams()[2];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(connect.data() + 120)), "check-test")
      << "the connect request names the checker itself";
}

TEST_F(RelayCheckTest, MissingListAndConnectFailTheCheckButItStillLogsOut) {
  FakeRelay relay(Relay(false));
  EXPECT_FALSE(Check(relay.endpoint()));
  EXPECT_THAT(Lines(), ElementsAre(::testing::_, MatchesRegex("PASS login .*"),
                                   "FAIL list no client list showing check-test within 200 ms",
                                   "PASS keepalive sent",
                                   "FAIL connect the connect request to ourselves did not come "
                                   "back within 200 ms",
                                   "PASS logout sent",
                                   "FAIL: no client list showing check-test within 200 ms"));
  ASSERT_TRUE(relay.WaitForCount(4));
  EXPECT_EQ(relay.letters(), "ekpf");
}

TEST_F(RelayCheckTest, SilentRelayFailsTheLoginAndSkipsTheRest) {
  FakeRelay relay;  // receives, never answers
  const std::string server = "127.0.0.1:" + std::to_string(relay.endpoint().port);
  EXPECT_FALSE(Check(relay.endpoint()));
  const std::string reason = "no answer to the login from " + server +
                             " within 200 ms (is the relay running and its UDP port reachable?)";
  EXPECT_THAT(Lines(), ElementsAre("check server=" + server + " name=check-test",
                                   "FAIL login " + reason, "FAIL: " + reason));
  ASSERT_TRUE(relay.WaitForCount(2));
  EXPECT_EQ(relay.letters(), "ef") << "a logout follows in case only the answer was lost";
}

TEST(RelayCheckName, TemporaryNamesAreShortAndDiffer) {
  const std::string first = TemporaryCheckName(), second = TemporaryCheckName();
  EXPECT_THAT(first, MatchesRegex("check-[0-9a-f]{8}"));
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace halvyn
