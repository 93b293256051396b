// A session against a stand-in relay on loopback: what each command sends,
// what is printed, and how waits and the background keep-alive end.
#include "tools/client/client_session.h"

#include <gtest/gtest.h>

#include <sstream>

#include "routes/route_packets.h"
#include "tests/client/fake_relay.h"

namespace halvyn {
namespace {

using testing::FakeRelay;

ClientCommand Parse(std::string_view line) {
  std::string error;
  return ParseClientCommand(line, error).value();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ClientSessionTest : public ::testing::Test {
 protected:
  ClientSessionTest() {
    socket.Bind({NetworkAddress(127, 0, 0, 1), 0});
    self.set_name("alpha");
    session.emplace(socket, relay.endpoint(), self, out);
  }
  // Ends the session's threads, so the output can be read.
  std::vector<std::string> Finish() {
    session.reset();
    return Lines(text.str());
  }
  std::string Here() const { return "127.0.0.1:" + std::to_string(socket.LocalEndpoint().port); }
  std::string Relay() const { return "127.0.0.1:" + std::to_string(relay.endpoint().port); }
  void RelaySends(const Datagram& datagram) {
    relay.socket().SendTo(datagram, socket.LocalEndpoint());
  }

  FakeRelay relay;
  UdpSocket socket;
  ClientRecord self;
  std::ostringstream text;
  LineOutput out{text};
  std::optional<ClientSession> session;
};

TEST_F(ClientSessionTest, CommandsSendTheirPacketsAndEveryDatagramIsPrinted) {
  session->Start(0);
  ASSERT_TRUE(session->Execute(Parse("login")));
  ASSERT_TRUE(relay.WaitForCount(1));
  EXPECT_EQ(relay.datagrams()[0], BuildRecordPacket('e', self));

  ClientRecord stored = self;
  stored.set_ip(NetworkAddress(127, 0, 0, 1));
  stored.set_port(socket.LocalEndpoint().port);
  RelaySends(BuildRecordPacket('g', stored));
  EXPECT_TRUE(session->Execute(Parse("expect g")));
  ClientRecord beta;
  beta.set_name("beta");
  beta.set_ip(NetworkAddress(127, 0, 0, 9));
  beta.set_port(6000);
  Datagram list = BuildRecordPacket('h', stored);
  const Datagram second = BuildRecordPacket('h', beta);
  list.insert(list.end(), second.begin(), second.end());
  RelaySends(list);
  EXPECT_TRUE(session->Execute(Parse("expect h")));

  // "-" takes each endpoint from the list just received.
  EXPECT_TRUE(session->Execute(Parse("route alpha - 2 beta - 1 7")));
  EXPECT_TRUE(session->Execute(Parse("keepalive 10.1.2.3 4000")));
  EXPECT_TRUE(session->Execute(Parse("connect beta")));
  EXPECT_TRUE(session->Execute(Parse("release 14368")));
  EXPECT_TRUE(session->Execute(Parse("probe " + std::to_string(relay.endpoint().port))));
  EXPECT_TRUE(session->Execute(Parse("echo done")));
  EXPECT_FALSE(session->Execute(Parse("quit")));
  ASSERT_TRUE(relay.WaitForCount(6));
  EXPECT_EQ(relay.letters(), "erkpxw");
  const CRouteInfo route =
      RouteRequestBody(std::span<const uint8_t, 228>(relay.datagrams()[1].data(), 228));
  EXPECT_EQ(route.tx_endpoint(), socket.LocalEndpoint());
  EXPECT_EQ(route.rx_endpoint(), (Ipv4Endpoint{NetworkAddress(127, 0, 0, 9), 6000}));
  EXPECT_EQ(route.tx_param(), 7);
  EXPECT_EQ(ClientRecord::At(relay.datagrams()[4], 4).value().p2p_port(), 4000)
      << "the p2p address of a keepalive stays in the record";
  EXPECT_FALSE(session->failed());

  const std::string port = std::to_string(socket.LocalEndpoint().port);
  EXPECT_EQ(Finish(),
            (std::vector<std::string>{
                "sent e name=alpha p2p=0.0.0.0:0 size=120 dst=" + Relay(),
                "recv g name=alpha ip=127.0.0.1 port=" + port +
                    " p2p=0.0.0.0:0 last_seen=0 size=120 src=" + Relay(),
                "expect g ok",
                "recv h count=2 names=alpha,beta addrs=" + Here() +
                    ",127.0.0.9:6000 size=240 src=" + Relay(),
                "expect h ok",
                "sent r name=alpha tx_name=alpha tx=" + Here() +
                    " tx_chan_count=2 rx_name=beta rx=127.0.0.9:6000 rx_chan_count=1 tx_param=7"
                    " size=228 dst=" +
                    Relay(),
                "sent k name=alpha p2p=10.1.2.3:4000 size=120 dst=" + Relay(),
                "sent p name=alpha to=beta size=152 dst=" + Relay(),
                "sent x name=alpha slot_port=14368 size=228 dst=" + Relay(),
                "sent w name=alpha size=120 dst=" + Relay(),
                "echo done",
            }));
}

TEST_F(ClientSessionTest, ExpectThatTimesOutAndUnknownRouteNamesFailTheSession) {
  session->Start(0);
  EXPECT_TRUE(session->Execute(Parse("expect g 0.05")));
  EXPECT_TRUE(session->failed());
  EXPECT_TRUE(session->Execute(Parse("route alpha - 1 beta 127.0.0.1:5 1")));
  EXPECT_TRUE(relay.datagrams().empty());
  EXPECT_EQ(Finish(), (std::vector<std::string>{
                          "expect g timeout",
                          "error no address known for alpha (not in the last list)",
                      }));
}

TEST_F(ClientSessionTest, ExpectClaimsEachDatagramOnce) {
  session->Start(0);
  RelaySends(BuildRecordPacket('g', self));
  EXPECT_TRUE(session->Execute(Parse("expect g")));
  EXPECT_TRUE(session->Execute(Parse("expect g 0.05")));
  const auto lines = Finish();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "expect g ok");
  EXPECT_EQ(lines[2], "expect g timeout");
}

TEST_F(ClientSessionTest, KeepAliveThreadSendsKeepAlivesUntilStopped) {
  session->Start(20);
  ASSERT_TRUE(relay.WaitForCount(2));
  EXPECT_EQ(relay.letters().substr(0, 2), "kk");
  EXPECT_EQ(relay.datagrams()[0], BuildRecordPacket('k', self));
  session->Stop();
  const size_t sent = relay.datagrams().size();
  EXPECT_FALSE(session->Execute(Parse("login")));
  EXPECT_FALSE(relay.WaitForCount(sent + 1, 100)) << "nothing is sent after Stop";
}

TEST_F(ClientSessionTest, StopFromAnotherThreadEndsALongWait) {
  session->Start(0);
  std::thread stopper([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    session->Stop();
  });
  EXPECT_FALSE(session->Execute(Parse("wait 3600")));
  stopper.join();
}

}  // namespace
}  // namespace halvyn
