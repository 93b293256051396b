#include "relay/relay_dispatcher.h"

#include <gtest/gtest.h>

#include "relay/relay_counters.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_notices.h"
#include "tests/support/recording_sender.h"
#include "tests/support/relay_datagrams.h"

namespace halvyn {
namespace {

using testing::ConnectRequest;
using testing::NamedRecord;
using testing::RecordForm;

const Ipv4Endpoint kAlphaAddress{NetworkAddress(198, 51, 100, 7), 30000};
const Ipv4Endpoint kBetaAddress{NetworkAddress(203, 0, 113, 9), 6000};

class RecordingRoutes final : public RouteCommands {
 public:
  void HandleRouteRequest(std::span<const uint8_t> packet, Ipv4Endpoint,
                          const DatagramSender&) override {
    requests.push_back(packet.size());
  }
  void HandleRouteRelease(std::span<const uint8_t> packet, Ipv4Endpoint,
                          const DatagramSender&) override {
    releases.push_back(packet.size());
  }
  std::vector<size_t> requests, releases;
};

class RelayDispatcherTest : public ::testing::Test {
 protected:
  void Receive(std::vector<uint8_t> datagram, Ipv4Endpoint source) {
    dispatcher.Handle(datagram, source);
  }
  void Login(std::string_view name, Ipv4Endpoint source) {
    Receive(RecordForm('e', NamedRecord(name)), source);
  }

  testing::FakeClock clock{5000};
  ClientTable table;
  Mutex lock;
  testing::RecordingSender sender;
  testing::RecordingNotices notices;
  RecordingRoutes routes;
  RelayCounters counters;
  RelayDispatcher dispatcher{table, lock, sender, notices, &routes, clock, counters};
};

TEST_F(RelayDispatcherTest, FirstLoginGetsGThenAListOfItself) {
  ClientRecord record = NamedRecord("alpha");
  record.bytes[40] = 0x5A;  // a client byte, passed through
  auto datagram = RecordForm('e', record, 7);
  Receive(datagram, kAlphaAddress);

  auto sent = sender.Take();
  ASSERT_EQ(sent.size(), 2u);
  // "g": the record as stored, public address and little-endian port filled in.
  ASSERT_EQ(sent[0].bytes.size(), 120u);
  EXPECT_EQ(sent[0].destination, kAlphaAddress);
  EXPECT_EQ(std::string(sent[0].bytes.begin(), sent[0].bytes.begin() + 4), "prg\x07");
  const ClientRecord stored = ClientRecord::At(sent[0].bytes, 4).value();
  EXPECT_EQ(stored.name(), "alpha");
  EXPECT_EQ(sent[0].bytes[4 + 48], 198);
  EXPECT_EQ(sent[0].bytes[4 + 51], 7);
  EXPECT_EQ(sent[0].bytes[4 + 52], 30000 & 0xFF);
  EXPECT_EQ(sent[0].bytes[4 + 53], 30000 >> 8);
  EXPECT_EQ(stored.last_seen(), 5000u);
  EXPECT_EQ(stored.bytes[40], 0x5A);
  // "h": one block, count 1, the same record.
  ASSERT_EQ(sent[1].bytes.size(), 120u);
  EXPECT_EQ(std::string(sent[1].bytes.begin(), sent[1].bytes.begin() + 4), std::string("prh\x01"));
  EXPECT_EQ(ClientRecord::At(sent[1].bytes, 4).value(), stored);

  auto told = notices.Take();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].kind, "login");
  EXPECT_EQ(told[0].record, stored);
}

TEST_F(RelayDispatcherTest, SecondLoginSendsTheSameListToBothFirstClientFirst) {
  Login("alpha", kAlphaAddress);
  sender.Take();
  Login("beta", kBetaAddress);
  auto sent = sender.Take();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].bytes[2], 'g');
  EXPECT_EQ(sent[0].destination, kBetaAddress);
  EXPECT_EQ(sent[1].destination, kAlphaAddress);
  EXPECT_EQ(sent[2].destination, kBetaAddress);
  EXPECT_EQ(sent[1].bytes, sent[2].bytes);
  ASSERT_EQ(sent[1].bytes.size(), 240u);
  EXPECT_EQ(ClientRecord::At(sent[1].bytes, 4).value().name(), "alpha");
  EXPECT_EQ(ClientRecord::At(sent[1].bytes, 124).value().name(), "beta");
  EXPECT_EQ(sent[1].bytes[123], 2);
}

TEST_F(RelayDispatcherTest, DuplicateLoginFromElsewhereOnlyResendsTheStoredList) {
  Login("alpha", kAlphaAddress);
  sender.Take();
  notices.Take();
  const Ipv4Endpoint elsewhere{NetworkAddress(192, 0, 2, 1), 1111};
  Login("alpha", elsewhere);
  auto sent = sender.Take();
  ASSERT_EQ(sent.size(), 1u);  // no "g"
  EXPECT_EQ(sent[0].bytes[2], 'h');
  EXPECT_EQ(sent[0].destination, kAlphaAddress);  // to the stored address
  EXPECT_EQ(ClientRecord::At(sent[0].bytes, 4).value().ip(), kAlphaAddress.address);
  EXPECT_TRUE(notices.Take().empty());
}

TEST_F(RelayDispatcherTest, AcceptanceNeedsPrAnd120Bytes) {
  auto shortOne = RecordForm('e', NamedRecord("a"));
  shortOne.resize(119);
  Receive(shortOne, kAlphaAddress);
  auto upper = RecordForm('e', NamedRecord("a"));
  upper[0] = 'P';
  upper[1] = 'R';
  Receive(upper, kAlphaAddress);
  auto swapped = RecordForm('e', NamedRecord("a"));
  swapped[0] = 'r';
  swapped[1] = 'p';
  Receive(swapped, kAlphaAddress);
  for (uint8_t letter : {'g', 'h', 'z'})
    Receive(RecordForm(letter, NamedRecord("a")), kAlphaAddress);
  EXPECT_TRUE(sender.Take().empty());
  EXPECT_EQ(table.count(), 0);
  Login("a", kAlphaAddress);
  EXPECT_EQ(table.count(), 1);
}

TEST_F(RelayDispatcherTest, FortyCharacterNameIsCutTo31) {
  const std::string name(40, 'n');
  auto datagram = RecordForm('e', NamedRecord(""));
  std::copy(name.begin(), name.end(), datagram.begin() + 4);
  Receive(datagram, kAlphaAddress);
  auto sent = sender.Take();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0].bytes[35], 0);
  EXPECT_EQ(sent[0].bytes[36], 'n');  // the rest of the client's bytes travel on
  EXPECT_EQ(table.At(0)->name(), std::string(31, 'n'));
}

TEST_F(RelayDispatcherTest, LogoutSendsListToTheRestAndTellsTheConsoleWithThePacketsRecord) {
  Login("alpha", kAlphaAddress);
  Login("beta", kBetaAddress);
  sender.Take();
  notices.Take();
  ClientRecord logout = NamedRecord("alpha");
  logout.set_ip(NetworkAddress(1, 2, 3, 4));  // as the client wrote it
  Receive(RecordForm('f', logout), kAlphaAddress);
  auto sent = sender.Take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].destination, kBetaAddress);
  EXPECT_EQ(sent[0].bytes.size(), 120u);
  auto told = notices.Take();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].kind, "logout");
  EXPECT_EQ(told[0].record.ip(), NetworkAddress(1, 2, 3, 4));

  Receive(RecordForm('f', NamedRecord("nobody")), kAlphaAddress);
  EXPECT_TRUE(sender.Take().empty());
  EXPECT_TRUE(notices.Take().empty());
}

TEST_F(RelayDispatcherTest, KeepAliveFromNewNatPortUpdatesPortOnly) {
  Login("alpha", kAlphaAddress);
  sender.Take();
  notices.Take();
  clock.Set(9000);
  const Ipv4Endpoint moved{kAlphaAddress.address, 30001};
  Receive(RecordForm('k', NamedRecord("alpha")), moved);
  const ClientRecord stored = *table.Find("alpha");
  EXPECT_EQ(stored.port(), 30001);
  EXPECT_EQ(stored.ip(), kAlphaAddress.address);
  EXPECT_EQ(stored.last_seen(), 9000u);
  EXPECT_TRUE(sender.Take().empty());
  EXPECT_TRUE(notices.Take().empty());
}

TEST_F(RelayDispatcherTest, OnlyTheStoredAddressMayKeepAliveReportOrLogOut) {
  Login("alpha", kAlphaAddress);
  sender.Take();
  notices.Take();
  clock.Set(9000);
  const Ipv4Endpoint other{NetworkAddress(192, 0, 2, 99), kAlphaAddress.port};
  ClientRecord report = NamedRecord("alpha");
  report.set_p2p_port(4000);
  Receive(RecordForm('k', report), other);
  Receive(RecordForm('i', report), other);
  Receive(RecordForm('f', report), other);
  const ClientRecord stored = *table.Find("alpha");
  EXPECT_EQ(stored.port(), kAlphaAddress.port);
  EXPECT_EQ(stored.last_seen(), 5000u);
  EXPECT_EQ(stored.p2p_port(), 0);
  EXPECT_TRUE(sender.Take().empty());
  EXPECT_TRUE(notices.Take().empty());
  EXPECT_EQ(counters.dropped[size_t(RelayDrop::kWrongSource)].Value(), 3u);
}

TEST_F(RelayDispatcherTest, KeepAliveWithNewP2pPortStoresAndTellsOnlyTheConsole) {
  Login("alpha", kAlphaAddress);
  Login("beta", kBetaAddress);
  sender.Take();
  notices.Take();
  ClientRecord report = NamedRecord("alpha");
  report.set_p2p_ip(NetworkAddress(10, 1, 1, 1));
  report.set_p2p_port(65535);
  Receive(RecordForm('k', report), kAlphaAddress);
  EXPECT_EQ(table.Find("alpha")->p2p_port(), 65535);
  EXPECT_EQ(table.Find("alpha")->p2p_ip(), NetworkAddress(10, 1, 1, 1));
  EXPECT_TRUE(sender.Take().empty());
  auto told = notices.Take();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].kind, "info");

  // Only p2p_ip differs: nothing is stored, nobody is told.
  report.set_p2p_ip(NetworkAddress(10, 2, 2, 2));
  Receive(RecordForm('k', report), kAlphaAddress);
  EXPECT_EQ(table.Find("alpha")->p2p_ip(), NetworkAddress(10, 1, 1, 1));
  EXPECT_TRUE(notices.Take().empty());

  // A keep-alive never logs a client in.
  Receive(RecordForm('k', NamedRecord("ghost")), kAlphaAddress);
  EXPECT_FALSE(table.Find("ghost"));
}

TEST_F(RelayDispatcherTest, InfoGoesToEveryClientAndDoesNotRefreshLastSeen) {
  Login("alpha", kAlphaAddress);
  Login("beta", kBetaAddress);
  sender.Take();
  notices.Take();
  clock.Set(20000);
  ClientRecord report = NamedRecord("beta");
  report.set_p2p_ip(NetworkAddress(10, 0, 0, 2));
  report.set_p2p_port(4000);
  Receive(RecordForm('i', report, 9), {kBetaAddress.address, 1});
  auto sent = sender.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].destination, kAlphaAddress);
  EXPECT_EQ(sent[1].destination, kBetaAddress);
  EXPECT_EQ(std::string(sent[0].bytes.begin(), sent[0].bytes.begin() + 4), std::string("pri\0", 4));
  const ClientRecord updated = ClientRecord::At(sent[0].bytes, 4).value();
  EXPECT_EQ(updated.p2p_port(), 4000);
  EXPECT_EQ(updated.last_seen(), 5000u);
  EXPECT_EQ(updated.port(), kBetaAddress.port);
  EXPECT_EQ(notices.Take().at(0).kind, "info");
}

TEST_F(RelayDispatcherTest, ConnectGoesToTheNamedClientUnchanged) {
  Login("alpha", kAlphaAddress);
  Login("beta", kBetaAddress);
  sender.Take();
  notices.Take();
  ClientRecord from = NamedRecord("alpha");
  from.bytes[100] = 0xEE;
  auto request = ConnectRequest(from, "beta");
  Receive(request, kAlphaAddress);
  auto sent = sender.Take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].destination, kBetaAddress);
  EXPECT_EQ(sent[0].bytes, std::vector<uint8_t>(request.begin(), request.begin() + 120));
  EXPECT_EQ(notices.Take().at(0).kind, "connect");

  Receive(ConnectRequest(from, "alpha"), kBetaAddress);  // to itself: its own address
  EXPECT_EQ(sender.Take().at(0).destination, kAlphaAddress);

  Receive(ConnectRequest(from, "nobody"), kAlphaAddress);
  EXPECT_TRUE(sender.Take().empty());
  notices.Take();
}

TEST_F(RelayDispatcherTest, ConnectWhoseNameRunsOffTheDatagramNamesNoClient) {
  Login("beta", kBetaAddress);
  sender.Take();
  auto request = ConnectRequest(NamedRecord("alpha"), "beta");
  request.pop_back();  // no terminating zero inside the datagram
  Receive(request, kAlphaAddress);
  Receive(RecordForm('p', NamedRecord("alpha")), kAlphaAddress);  // exactly 120 bytes
  EXPECT_TRUE(sender.Take().empty());
}

TEST_F(RelayDispatcherTest, RouteCommandsAreHandedOnByLength) {
  std::vector<uint8_t> route(200, 0);
  route[0] = 'p';
  route[1] = 'r';
  route[2] = 'r';
  Receive(route, kAlphaAddress);
  route.resize(228);
  Receive(route, kAlphaAddress);
  route[2] = 'x';
  route.resize(122);
  Receive(route, kAlphaAddress);
  EXPECT_EQ(routes.requests, std::vector<size_t>{228});
  EXPECT_EQ(routes.releases, std::vector<size_t>{122});
}

}  // namespace
}  // namespace halvyn
