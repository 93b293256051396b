#include "relay/liveness_sweep.h"

#include <gtest/gtest.h>

#include "tests/support/recording_notices.h"
#include "tests/support/relay_datagrams.h"

namespace halvyn {
namespace {

using testing::NamedRecord;

ClientRecord HeardAt(std::string_view name, uint32_t tick) {
  ClientRecord record = NamedRecord(name);
  record.set_last_seen(tick);
  return record;
}

struct SweepTest : ::testing::Test {
  ClientTable table;
  Mutex lock;
  testing::RecordingNotices notices;
  RelayCounters counters;
};

TEST_F(SweepTest, BoundaryIs24600Milliseconds) {
  table.Add(HeardAt("stays", 100000 - 24599));
  table.Add(HeardAt("goes", 100000 - 24600));
  EXPECT_EQ(SweepSilentClients(table, lock, notices, counters, 100000), 1);
  ASSERT_EQ(table.count(), 1);
  EXPECT_EQ(table.At(0)->name(), "stays");
  auto told = notices.Take();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].kind, "timeout");
  EXPECT_EQ(told[0].record.name(), "goes");
}

TEST_F(SweepTest, DifferenceIsTakenAcrossTheTickWrap) {
  table.Add(HeardAt("beforeWrap", 0xFFFFFF00u));       // 256 ms before the wrap
  table.Add(HeardAt("longAgo", 0xFFFFFFFFu - 24000));  // 24,601 ms before a sweep at 600
  SweepSilentClients(table, lock, notices, counters, 600);
  ASSERT_EQ(table.count(), 1);
  EXPECT_EQ(table.At(0)->name(), "beforeWrap");
}

// A keep-alive handled while the sweep runs (it waits for the client-table
// lock between records) leaves last_seen later than the sweep's time.
TEST_F(SweepTest, ClientHeardAfterTheSweepsTimeStays) {
  table.Add(HeardAt("justNow", 100000 + 3));
  table.Add(HeardAt("goes", 100000 - 24600));
  EXPECT_EQ(SweepSilentClients(table, lock, notices, counters, 100000), 1);
  ASSERT_EQ(table.count(), 1);
  EXPECT_EQ(table.At(0)->name(), "justNow");
  // The same across the tick's wrap: the sweep's time just before it, the keep-alive just after.
  table.Clear();
  table.Add(HeardAt("afterWrap", 5));
  EXPECT_EQ(SweepSilentClients(table, lock, notices, counters, 0xFFFFFFF0u), 0);
  EXPECT_EQ(table.count(), 1);
}

TEST_F(SweepTest, ThreeSilentClientsGoInOneSweepEachWithItsOwnNotice) {
  table.Add(HeardAt("a", 0));
  table.Add(HeardAt("live", 50000));
  table.Add(HeardAt("b", 0));
  table.Add(HeardAt("c", 10));
  EXPECT_EQ(SweepSilentClients(table, lock, notices, counters, 50000), 3);
  auto told = notices.Take();
  ASSERT_EQ(told.size(), 3u);
  EXPECT_EQ(told[0].record.name(), "a");
  EXPECT_EQ(told[1].record.name(), "b");
  EXPECT_EQ(told[2].record.name(), "c");
  EXPECT_EQ(table.count(), 1);
}

TEST_F(SweepTest, SweeperEndsAsSoonAsTheReceiveThreadHasEnded) {
  ManualResetEvent receiveEnded;
  MonotonicTickClock clock;
  std::thread sweeper(
      [&] { LivenessSweep(table, lock, notices, counters, clock, receiveEnded, 60000); });
  receiveEnded.Set();
  sweeper.join();  // would take a minute if the wait ignored the event
  SUCCEED();
}

}  // namespace
}  // namespace halvyn
