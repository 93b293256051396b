#include "routes/route_window_steps.h"

#include <gtest/gtest.h>

#include "tests/routes/route_fakes.h"

namespace halvyn {
namespace {

using testing::AlphaToBetaRequest;
using testing::Bytes;
using testing::EventLog;

const uint32_t kDevice = NetworkAddress(192, 168, 1, 10);

class RouteWindowStepsTest : public ::testing::Test {
 protected:
  RouteWindowStepsTest() {
    state.ResetForDeviceSelection(kDevice);
    device.address = kDevice;
    device.mac = {0x02, 0, 0, 0, 0, 0x0A};
    device.gatewayMac = {0x02, 0, 0, 0, 0, 0x01};
  }

  // Slots 0 and 1 take channels 1 and 2; slot 2 gets channels 3 and 4.
  void GrantSlotTwoOnChannelsThreeAndFour() {
    ASSERT_TRUE(state.AllocateRoute(AlphaToBetaRequest(1)));
    ASSERT_TRUE(state.AllocateRoute(AlphaToBetaRequest(1)));
    ASSERT_EQ(state.AllocateRoute(AlphaToBetaRequest(2, 2))->slot, 2);
  }

  std::optional<RouteRow> Probe(uint16_t slotPort, uint16_t learntPort) {
    return ActivateRoute(slotPort, learntPort, state, programmer, device,
                         testing::LookupIn(clients));
  }

  EventLog log;
  testing::RecordingRegisterWriter writer{log};
  RouteProgrammer programmer{writer, testing::RecordingPause(log)};
  RouteState state;
  SelectedRouteDevice device;
  std::map<std::string, Ipv4Endpoint> clients{{"alpha", {NetworkAddress(198, 51, 100, 7), 5000}},
                                              {"beta", {NetworkAddress(203, 0, 113, 9), 6000}}};
};

TEST_F(RouteWindowStepsTest, ProbeWritesTemplateAndGivesTheRouteRow) {
  GrantSlotTwoOnChannelsThreeAndFour();
  const auto row = Probe(14369, 30001);
  ASSERT_TRUE(row);
  EXPECT_EQ(row->slot, 2);
  EXPECT_EQ(row->columns, (std::array<std::string, 6>{"3", "alpha", "198.51.100.7 : 5000", "beta",
                                                      "203.0.113.9 : 6000", "3/4"}));
  const auto writes = writer.writes();
  ASSERT_EQ(writes.size(), 1u);
  const auto& write = writes[0];
  EXPECT_EQ(write.deviceAddress, kDevice);
  EXPECT_EQ(write.registerAddress, 1088);
  EXPECT_EQ(std::vector<uint8_t>(write.data.begin(), write.data.begin() + 10),
            Bytes({0xC3, 0xC2, 0, 0, 0, 0, 0, 0, 97, 103}));
  EXPECT_EQ(std::vector<uint8_t>(write.data.begin() + 46, write.data.begin() + 54),
            Bytes({203, 0, 113, 9, 0x38, 0x21, 0x75, 0x31}));  // rx_ip, slot port, learnt port
}

TEST_F(RouteWindowStepsTest, RxNotLoggedInWritesTemplateButGivesNoRow) {
  GrantSlotTwoOnChannelsThreeAndFour();
  clients.erase("beta");
  EXPECT_FALSE(Probe(14369, 30000));
  EXPECT_EQ(writer.writes().size(), 1u);
}

TEST_F(RouteWindowStepsTest, ProbeWithoutRouteMapEntryDoesNothing) {
  GrantSlotTwoOnChannelsThreeAndFour();
  state.ClearRouteMap();
  EXPECT_FALSE(Probe(14369, 30000));
  EXPECT_FALSE(Probe(14380, 30000));
  EXPECT_FALSE(Probe(7002, 30000));
  EXPECT_TRUE(writer.writes().empty());
}

TEST_F(RouteWindowStepsTest, ProbeAfterReleaseWritesTemplateOfTheZeroRecord) {
  GrantSlotTwoOnChannelsThreeAndFour();
  ReleaseRouteSlot(2, state, programmer, kDevice);
  log.Clear();
  EXPECT_FALSE(Probe(14369, 30000));
  const auto writes = writer.writes();
  const auto& write = writes.back();
  EXPECT_EQ(write.registerAddress, 1088);
  EXPECT_EQ(write.data[8], 95);  // count 0
  EXPECT_EQ(std::vector<uint8_t>(write.data.begin() + 46, write.data.begin() + 50),
            Bytes({0, 0, 0, 0}));  // destination 0.0.0.0
}

TEST_F(RouteWindowStepsTest, ReleaseZeroesBlocksWhileSlotIsStillHeldThenFreesIt) {
  ASSERT_TRUE(state.AllocateRoute(AlphaToBetaRequest(1)));
  ASSERT_TRUE(state.AllocateRoute(AlphaToBetaRequest(2)));  // slot 1, channels 2 and 3
  std::vector<uint32_t> slotMasksDuringWrites;
  struct ProbingWriter final : DeviceRegisterWriter {
    testing::RecordingRegisterWriter& inner;
    RouteState& state;
    std::vector<uint32_t>& masks;
    ProbingWriter(testing::RecordingRegisterWriter& i, RouteState& s, std::vector<uint32_t>& m)
        : inner(i), state(s), masks(m) {}
    void WriteDeviceRegisters(uint32_t a, uint16_t r, std::span<const uint8_t> d) override {
      masks.push_back(state.routeSlotMask());
      inner.WriteDeviceRegisters(a, r, d);
    }
  } probing{writer, state, slotMasksDuringWrites};
  RouteProgrammer probingProgrammer(probing, testing::RecordingPause(log));

  EXPECT_EQ(ReleaseRouteSlot(1, state, probingProgrammer, kDevice), "2");
  EXPECT_EQ(log.events(), (std::vector<std::string>{"write 1056 64", "pause 10", "write 2080 24",
                                                    "pause 10", "write 2096 12"}));
  EXPECT_EQ(slotMasksDuringWrites, (std::vector<uint32_t>{0b11, 0b11, 0b11}));
  EXPECT_EQ(state.routeSlotMask(), 0b01u);
  EXPECT_EQ(state.channelMask(), 0b001u);
  EXPECT_TRUE(state.Record(1).IsZero());
  EXPECT_TRUE(state.LookupRoute(14368));  // the map entry stays
}

TEST_F(RouteWindowStepsTest, ReleaseOfUnknownSlotDoesNothing) {
  EXPECT_FALSE(ReleaseRouteSlot(32, state, programmer, kDevice));
  EXPECT_TRUE(log.events().empty());
}

TEST(ForwardRouteRowsTest, RowsGoToTheirSlotPositionOrTheEnd) {
  ForwardRouteRows rows;
  RouteRow slot1{1, {"2", "a", "", "b", "", "1"}};
  RouteRow slot0{0, {"1", "c", "", "d", "", "2"}};
  RouteRow slot5{5, {"6", "e", "", "f", "", "3"}};
  rows.AddRouteRow(slot1);  // into an empty list: position 0
  rows.AddRouteRow(slot0);  // before it
  rows.AddRouteRow(slot5);  // fewer than 5 rows: the end
  ASSERT_EQ(rows.rows().size(), 3u);
  EXPECT_EQ(rows.rows()[0], slot0.columns);
  EXPECT_EQ(rows.rows()[1], slot1.columns);
  EXPECT_EQ(rows.rows()[2], slot5.columns);

  EXPECT_TRUE(rows.RemoveRouteRow(1));
  EXPECT_FALSE(rows.RemoveRouteRow(1));
  EXPECT_FALSE(rows.RemoveRouteRow(3));
  EXPECT_EQ(rows.rows().size(), 2u);
  EXPECT_EQ(rows.rows()[1][0], "6");
}

TEST(ForwardRouteRowsTest, ChannelsJoinedBySlashAndEmptyForNone) {
  CRouteInfo record = AlphaToBetaRequest(8);
  record.set_tx_chans({1, 2, 3, 4, 5, 6, 7, 32});
  const auto lookup = [](std::string_view) { return std::optional<Ipv4Endpoint>(Ipv4Endpoint{}); };
  EXPECT_EQ(MakeRouteRow(30, record, lookup)->columns[5], "1/2/3/4/5/6/7/32");
  EXPECT_EQ(MakeRouteRow(30, record, lookup)->columns[0], "31");
  record.set_tx_chan_count(0);
  EXPECT_EQ(MakeRouteRow(30, record, lookup)->columns[5], "");
}

}  // namespace
}  // namespace halvyn
