#include "routes/route_state.h"

#include <gtest/gtest.h>

#include "routes/route_allocation.h"
#include "tests/routes/route_fakes.h"

namespace halvyn {
namespace {

using testing::AlphaToBetaRequest;

ChannelList Channels(std::initializer_list<uint8_t> numbers) {
  ChannelList list{};
  std::copy(numbers.begin(), numbers.end(), list.begin());
  return list;
}

class RouteStateTest : public ::testing::Test {
 protected:
  std::optional<RouteGrant> Request(uint8_t k) {
    return state.AllocateRoute(AlphaToBetaRequest(k));
  }
  void TearDown() override {
    const auto fault = FindRouteStateFault(state.Snapshot());
    EXPECT_FALSE(fault.has_value()) << *fault;
  }
  RouteState state;
};

TEST_F(RouteStateTest, TwoRequestsGetSlotPorts14367And14368) {
  EXPECT_EQ(Request(1)->slotPort, 14367);
  EXPECT_EQ(Request(1)->slotPort, 14368);
  EXPECT_EQ(state.routeSlotMask(), 0b11u);
}

TEST_F(RouteStateTest, GrantStoresTheBodyWithTheAllocatedChannels) {
  state.ResetForDeviceSelection(NetworkAddress(192, 168, 1, 10));
  const CRouteInfo request = AlphaToBetaRequest(2);
  const auto grant = state.AllocateRoute(request);
  ASSERT_TRUE(grant);
  EXPECT_EQ(grant->slot, 0);
  EXPECT_EQ(grant->channels, Channels({1, 2}));
  EXPECT_EQ(grant->channelCount, 2);
  EXPECT_EQ(grant->deviceAddress, NetworkAddress(192, 168, 1, 10));

  CRouteInfo expected = request;
  expected.set_tx_chans(Channels({1, 2}));
  EXPECT_EQ(state.Record(0), expected);
  EXPECT_EQ(state.LookupRoute(14367), expected);
  EXPECT_EQ(state.channelMask(), 0b11u);
}

TEST_F(RouteStateTest, ChannelsLowestFirstAndFreedOnesReused) {
  ASSERT_EQ(Request(2)->channels, Channels({1, 2}));
  const auto second = Request(2);
  EXPECT_EQ(second->slot, 1);
  EXPECT_EQ(second->channels, Channels({3, 4}));

  const CRouteInfo released = state.ReleaseRoute(0);
  EXPECT_EQ(released.tx_chans(), Channels({1, 2}));
  EXPECT_TRUE(state.Record(0).IsZero());

  const auto third = Request(3);
  EXPECT_EQ(third->slot, 0);
  EXPECT_EQ(third->channels, Channels({1, 2, 5}));
  EXPECT_EQ(state.channelMask(), 0b11111u);
}

TEST_F(RouteStateTest, TooFewFreeChannelsRefusesAndChangesNothing) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Request(8));
  ASSERT_TRUE(Request(6));  // 30 channels taken, 2 free
  const RouteStateSnapshot before = state.Snapshot();

  EXPECT_FALSE(Request(3));
  const RouteStateSnapshot after = state.Snapshot();
  EXPECT_EQ(after.routeSlotMask, before.routeSlotMask);
  EXPECT_EQ(after.channelMask, before.channelMask);
  EXPECT_EQ(after.routeRecords, before.routeRecords);
  EXPECT_EQ(after.routeMap, before.routeMap);

  const auto granted = Request(2);
  ASSERT_TRUE(granted);
  EXPECT_EQ(granted->slot, 4);
  EXPECT_EQ(granted->channels, Channels({31, 32}));
  EXPECT_EQ(state.channelMask(), 0xFFFFFFFFu);
}

TEST_F(RouteStateTest, ThirtyThirdRouteIsRefused) {
  for (int i = 0; i < kRouteSlotCount; ++i) {
    // One channel each: channels run out exactly with the slots.
    ASSERT_TRUE(Request(1)) << i;
  }
  EXPECT_EQ(state.routeSlotMask(), 0xFFFFFFFFu);
  EXPECT_FALSE(Request(1));
}

TEST(RouteAllocationTest, NoFreeSlotRefusesEvenWithChannelsFree) {
  EXPECT_FALSE(FindRouteAllocation(0xFFFFFFFFu, 0, 1));
  EXPECT_EQ(FindRouteAllocation(0x7FFFFFFFu, 0, 1)->slot, 31);
}

TEST_F(RouteStateTest, ChannelCountZeroOrAboveEightIsRefused) {
  EXPECT_FALSE(Request(0));
  EXPECT_FALSE(Request(9));
  EXPECT_FALSE(Request(255));
  EXPECT_EQ(state.routeSlotMask(), 0u);
  EXPECT_EQ(state.channelMask(), 0u);
  EXPECT_TRUE(state.Snapshot().routeMap.empty());
  EXPECT_EQ(Request(8)->channels, Channels({1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(RouteStateTest, ReleasedSlotZeroIsGrantedAgainBeforeHigherSlots) {
  ASSERT_TRUE(Request(1));
  ASSERT_TRUE(Request(1));
  state.ReleaseRoute(0);
  EXPECT_EQ(Request(1)->slotPort, 14367);
}

TEST_F(RouteStateTest, ReleasingAFreeSlotChangesNoMask) {
  ASSERT_TRUE(Request(2));
  EXPECT_TRUE(state.ReleaseRoute(5).IsZero());
  state.ReleaseRoute(0);
  EXPECT_TRUE(state.ReleaseRoute(0).IsZero());  // second release of the same slot
  EXPECT_EQ(state.routeSlotMask(), 0u);
  EXPECT_EQ(state.channelMask(), 0u);
  EXPECT_TRUE(state.ReleaseRoute(32).IsZero());
  EXPECT_TRUE(state.ReleaseRoute(-1).IsZero());
}

TEST_F(RouteStateTest, ReleaseKeepsTheRouteMapEntryOnTheZeroRecord) {
  ASSERT_TRUE(Request(2));
  state.ReleaseRoute(0);
  const auto record = state.LookupRoute(14367);
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->IsZero());
}

TEST_F(RouteStateTest, DeviceSelectionFreesEverythingButKeepsTheRouteMap) {
  ASSERT_TRUE(Request(3));
  ASSERT_TRUE(Request(3));
  state.ResetForDeviceSelection(NetworkAddress(10, 0, 0, 2));
  EXPECT_EQ(state.routeSlotMask(), 0u);
  EXPECT_EQ(state.channelMask(), 0u);
  EXPECT_TRUE(state.Record(1).IsZero());
  EXPECT_EQ(state.Snapshot().routeMap.size(), 2u);
  const auto next = Request(1);
  EXPECT_EQ(next->slotPort, 14367);
  EXPECT_EQ(next->deviceAddress, NetworkAddress(10, 0, 0, 2));
}

TEST_F(RouteStateTest, ClearRouteMapTouchesNothingElse) {
  ASSERT_TRUE(Request(2));
  state.ClearRouteMap();
  EXPECT_FALSE(state.LookupRoute(14367));
  EXPECT_EQ(state.routeSlotMask(), 1u);
  EXPECT_EQ(state.Record(0).tx_chan_count(), 2);
}

TEST(RouteStateFaultTest, ReportsChannelsOutsideTheMaskAndSharedChannels) {
  RouteStateSnapshot snapshot;
  EXPECT_FALSE(FindRouteStateFault(snapshot));

  CRouteInfo record;
  record.set_tx_chan_count(2);
  record.set_tx_chans(Channels({1, 2}));
  snapshot.routeSlotMask = 0b11;
  snapshot.routeRecords[0] = record;
  snapshot.routeRecords[1] = record;
  snapshot.channelMask = 0b11;
  EXPECT_EQ(FindRouteStateFault(snapshot), "channel 1 is in two slots");

  snapshot.routeSlotMask = 0b01;
  EXPECT_EQ(FindRouteStateFault(snapshot), "slot 1 is free but its record is not zero");
  snapshot.routeRecords[1] = CRouteInfo();
  snapshot.channelMask = 0b01;
  EXPECT_EQ(FindRouteStateFault(snapshot), "slot 0 holds channel 2 not set in channelMask");
  snapshot.channelMask = 0b111;
  EXPECT_EQ(FindRouteStateFault(snapshot), "channelMask holds channels no slot owns");
  snapshot.channelMask = 0b11;
  snapshot.routeMap[14368] = 0;
  EXPECT_EQ(FindRouteStateFault(snapshot), "routeMap entry 14368 names slot 0");
}

}  // namespace
}  // namespace halvyn
