// The relay port's defences with the real dispatcher: per-address limits on
// what comes in and goes out, and the paced, merged client lists. A fake clock
// stands for time; the pacer's steps are taken by hand (SendDue).
#include "relay/relay_defences.h"

#include <gtest/gtest.h>

#include "relay/relay_counters.h"
#include "relay/relay_dispatcher.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_notices.h"
#include "tests/support/recording_sender.h"
#include "tests/support/relay_datagrams.h"

namespace halvyn {
namespace {

using testing::NamedRecord;
using testing::RecordForm;

const uint32_t kNat = NetworkAddress(198, 51, 100, 7);
const uint32_t kVictim = NetworkAddress(203, 0, 113, 9);
const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);

class RelayDefencesTest : public ::testing::Test {
 protected:
  explicit RelayDefencesTest(RelayLimits limits = {}) : limits_(limits) {}

  void Receive(std::vector<uint8_t> datagram, Ipv4Endpoint source) {
    dispatcher.Handle(datagram, source);
  }
  void Login(std::string_view name, Ipv4Endpoint source) {
    Receive(RecordForm('e', NamedRecord(name)), source);
  }
  // The "h" lists sent, as (destination, client count) pairs.
  std::vector<std::pair<Ipv4Endpoint, int>> TakeLists() {
    std::vector<std::pair<Ipv4Endpoint, int>> lists;
    for (const auto& sent : sender.Take())
      if (sent.bytes[2] == 'h') lists.push_back({sent.destination, sent.bytes[3]});
    return lists;
  }
  std::vector<std::string> LimitLines() {
    std::vector<std::string> lines;
    for (const auto& notice : notices.Take())
      if (notice.kind == "limit") lines.push_back(notice.text);
    return lines;
  }

  RelayLimits limits_;
  testing::FakeClock clock{1000};
  ClientTable table;
  Mutex lock;
  testing::RecordingSender sender;
  testing::RecordingNotices notices;
  RelayCounters counters;
  RelayDefences defences{table, sender, notices, clock, limits_, counters};
  RelayDispatcher dispatcher{table, lock, sender, notices, nullptr, clock, counters, &defences};
};

TEST_F(RelayDefencesTest, ListsFasterThanTheBudgetAreMergedIntoOneCurrentList) {
  // 100 clients: each list is 100 x 12,000 bytes = 1.2 MB, 120 ms of the 10 MB/s budget.
  for (int i = 0; i < 100; ++i) Login("c" + std::to_string(i), {kLoopback, uint16_t(1000 + i)});
  sender.Take();
  clock.Advance(1000);
  Login("late1", {kLoopback, 2000});  // nothing sent for a second: at once, "g" then the list
  auto sent = sender.Take();
  ASSERT_EQ(sent.size(), 102u);
  EXPECT_EQ(sent[0].bytes[2], 'g');
  EXPECT_EQ(sent[1].bytes.size(), 101u * 120);

  clock.Advance(50);  // 101 x 12,120 bytes were sent 50 ms ago: the next list waits 122 ms in all
  Login("late2", {kLoopback, 2001});
  Login("late3", {kLoopback, 2002});
  sent = sender.Take();
  ASSERT_EQ(sent.size(), 2u);  // the two "g" only
  EXPECT_TRUE(defences.lists().pending());
  EXPECT_EQ(defences.lists().SendDue(), 72);
  EXPECT_TRUE(sender.Take().empty());

  clock.Advance(72);
  EXPECT_EQ(defences.lists().SendDue(), 0);
  const auto lists = TakeLists();
  ASSERT_EQ(lists.size(), 103u);  // one list, carrying both logins, to every client
  EXPECT_EQ(lists[0].second, 103);
  EXPECT_FALSE(defences.lists().pending());
  EXPECT_EQ(defences.lists().SendDue(), -1);
}

TEST_F(RelayDefencesTest, OneAddressMayHoldNamesUpToItsLimitAndLoopbackIsExempt) {
  for (int i = 0; i < 64; ++i) Login("n" + std::to_string(i), {kNat, uint16_t(1000 + i)});
  sender.Take();
  notices.Take();
  Login("one-too-many", {kNat, 3000});
  EXPECT_TRUE(sender.Take().empty());  // no "g", no list
  EXPECT_FALSE(table.Find("one-too-many"));
  EXPECT_EQ(LimitLines(), std::vector<std::string>{
                              "Limit: logins from 198.51.100.7 refused (over 64 names).\r\n"});
  clock.Advance(1000);
  Login("n0", {kNat, 1000});  // a name already stored logs in again as before
  EXPECT_FALSE(TakeLists().empty());
  for (int i = 0; i < 70; ++i) Login("local" + std::to_string(i), {kLoopback, uint16_t(1000 + i)});
  EXPECT_EQ(table.count(), 134);
}

TEST_F(RelayDefencesTest, DatagramsOverTheRateOfOneAddressAreDroppedAndToldOnce) {
  Login("alpha", {kNat, 1000});
  sender.Take();
  notices.Take();
  // The bucket holds two seconds' worth (400); the login took one.
  for (int i = 0; i < 500; ++i) Receive(RecordForm('k', NamedRecord("alpha")), {kNat, 1000});
  EXPECT_EQ(counters.limited[size_t(RelayLimit::kDatagramsPerIp)].Value(), 101u);
  EXPECT_EQ(LimitLines(),
            std::vector<std::string>{
                "Limit: datagrams from 198.51.100.7 dropped (over 200 per second).\r\n"});
  clock.Advance(1000);  // 200 more flow in; the next refusal is within 10 s of the line: silent
  for (int i = 0; i < 201; ++i) Receive(RecordForm('k', NamedRecord("alpha")), {kNat, 1000});
  EXPECT_TRUE(LimitLines().empty());
  for (int i = 0; i < 1000; ++i) Receive(RecordForm('k', NamedRecord("alpha")), {kLoopback, 1});
  EXPECT_EQ(counters.limited[size_t(RelayLimit::kDatagramsPerIp)].Value(), 102u);
}

TEST_F(RelayDefencesTest, AVictimAddressGetsItsByteBudgetAndIsOwedTheCurrentList) {
  // Logins 11 ms apart: the list budget would let every list go at once, 1.13
  // MB to the victim in all.
  for (int i = 0; i < 30; ++i) {
    Login("fake" + std::to_string(i), {kVictim, uint16_t(1000 + i)});
    clock.Advance(11);
  }
  uint64_t toVictim = 0;
  for (const auto& sent : sender.Take()) toVictim += sent.bytes.size();
  // The bucket holds 400,000 bytes and refills 100,000 per second.
  EXPECT_LE(toVictim, 400000u + 33000u);
  EXPECT_GT(toVictim, 350000u);
  // Ten seconds later the budget has refilled; the owed clients get the list
  // of all 30, each once, without a new change.
  clock.Advance(10000);
  EXPECT_EQ(defences.lists().SendDue(), 0);
  const auto lists = TakeLists();
  ASSERT_FALSE(lists.empty());
  for (const auto& list : lists) EXPECT_EQ(list.second, 30);
  EXPECT_EQ(defences.lists().SendDue(), -1);
}

class StrictRoutesTest : public RelayDefencesTest {
 protected:
  StrictRoutesTest() : RelayDefencesTest({.routesFromClientsOnly = true}) {}
};

TEST_F(StrictRoutesTest, RouteCommandsOnlyFromAnAddressWithAClient) {
  struct Routes final : RouteCommands {
    void HandleRouteRequest(std::span<const uint8_t>, Ipv4Endpoint,
                            const DatagramSender&) override {
      ++requests;
    }
    void HandleRouteRelease(std::span<const uint8_t>, Ipv4Endpoint,
                            const DatagramSender&) override {
      ++releases;
    }
    int requests = 0, releases = 0;
  } routes;
  RelayDispatcher strict{table, lock, sender, notices, &routes, clock, counters, &defences};
  std::vector<uint8_t> request = RecordForm('r', NamedRecord("")), release = RecordForm('x', {});
  request.resize(228);
  release.resize(122);
  strict.Handle(request, {kNat, 1});
  strict.Handle(release, {kNat, 1});
  EXPECT_EQ(routes.requests + routes.releases, 0);
  EXPECT_EQ(LimitLines(), std::vector<std::string>{"Limit: route commands from 198.51.100.7 "
                                                   "refused (no client logged in there).\r\n"});
  Login("alpha", {kNat, 1000});
  strict.Handle(request, {kNat, 2});  // any port of that address
  strict.Handle(release, {kNat, 2});
  EXPECT_EQ(routes.requests, 1);
  EXPECT_EQ(routes.releases, 1);
}

}  // namespace
}  // namespace halvyn
