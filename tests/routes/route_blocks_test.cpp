#include "routes/route_blocks.h"

#include <gtest/gtest.h>

#include "routes/route_programmer.h"
#include "tests/routes/route_fakes.h"

namespace halvyn {
namespace {

using testing::Bytes;
using testing::EventLog;
using testing::RecordingPause;
using testing::RecordingRegisterWriter;

const uint32_t kDevice = NetworkAddress(192, 168, 1, 10);
const uint32_t kTxIp = NetworkAddress(198, 51, 100, 7);
const ChannelList kChannels5917 = {5, 9, 17, 0, 0, 0, 0, 0};

template <size_t N>
std::vector<uint8_t> Vec(const std::array<uint8_t, N>& bytes) {
  return {bytes.begin(), bytes.end()};
}

TransmitTemplateInputs TemplateInputs(uint8_t n, const ChannelList& channels) {
  TransmitTemplateInputs inputs;
  inputs.gatewayMac = {0x02, 0x00, 0x5E, 0x00, 0x00, 0x01};
  inputs.deviceMac = {0x02, 0x00, 0x5E, 0x00, 0x00, 0x02};
  inputs.deviceAddress = kDevice;
  inputs.rxIp = NetworkAddress(1, 2, 3, 4);
  inputs.learntPort = 30000;
  inputs.rxChanCount = n;
  inputs.channels = channels;
  inputs.slot = 2;
  return inputs;
}

TEST(ChannelEntriesTest, EightChannelsSwapBytesWithinEachRegister) {
  EXPECT_EQ(Vec(ChannelEntryBytes({1, 2, 3, 4, 5, 6, 7, 8}, 8)),
            Bytes({0xC1, 0xC0, 0xC3, 0xC2, 0xC5, 0xC4, 0xC7, 0xC6}));
}

TEST(ChannelEntriesTest, CountAboveListedChannelsGivesFFAndBeyondCountZero) {
  EXPECT_EQ(Vec(ChannelEntryBytes({5, 9, 0, 0, 0, 0, 0, 0}, 3)),
            Bytes({0xC8, 0xC4, 0x00, 0xFF, 0, 0, 0, 0}));
  EXPECT_EQ(Vec(ChannelEntryBytes({5, 9, 0, 0, 0, 0, 0, 0}, 0)), Bytes({0, 0, 0, 0, 0, 0, 0, 0}));
  // A count above 8 reads no more than the eight list positions.
  EXPECT_EQ(Vec(ChannelEntryBytes({1, 2, 3, 4, 5, 6, 7, 8}, 200)),
            Bytes({0xC1, 0xC0, 0xC3, 0xC2, 0xC5, 0xC4, 0xC7, 0xC6}));
}

TEST(RouteProgrammerTest, ReceiveAndSummaryBlocksOfSlotTwoWithPauseBetween) {
  EventLog log;
  RecordingRegisterWriter writer(log);
  RouteProgrammer programmer(writer, RecordingPause(log));
  programmer.ProgramRouteReceive(kDevice, 2, 3, kChannels5917, kTxIp, 0x1234);

  EXPECT_EQ(log.events(), (std::vector<std::string>{"write 2112 24", "pause 10", "write 2128 12"}));
  const auto writes = writer.writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].deviceAddress, kDevice);
  EXPECT_EQ(writes[0].data,
            Bytes({0x00, 0x00, 0x01, 0x0A, 0x00, 0x00, 0x38, 0x21, 0xC8, 0xC4, 0x00, 0xD0,
                   0x00, 0x00, 0x00, 0x00, 0x67, 0x30, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34}));
  EXPECT_EQ(writes[1].deviceAddress, kDevice);
  EXPECT_EQ(writes[1].data,
            Bytes({0x03, 0x02, 0x21, 0x38, 0xC0, 0xA8, 0x01, 0x0A, 198, 51, 100, 7}));
}

TEST(RouteProgrammerTest, TransmitTemplateOfSlotTwoToOneTwoThreeFour) {
  EventLog log;
  RecordingRegisterWriter writer(log);
  RouteProgrammer programmer(writer, RecordingPause(log));
  programmer.ProgramRouteTransmit(TemplateInputs(3, kChannels5917));

  EXPECT_EQ(log.events(), (std::vector<std::string>{"write 1088 64"}));  // no pause
  ASSERT_EQ(writer.writes().size(), 1u);
  EXPECT_EQ(writer.writes()[0].deviceAddress, kDevice);
  EXPECT_EQ(writer.writes()[0].data,
            Bytes({0xC8, 0xC4, 0x00, 0xD0, 0x00, 0x00, 0x00, 0x00,  // entries
                   0x62, 0x67, 0,    0,    0,    0,    0,    0,     // n + 95, 103
                   0x02, 0x00, 0x5E, 0x00, 0x00, 0x01,              // gateway MAC
                   0x02, 0x00, 0x5E, 0x00, 0x00, 0x02,              // device MAC
                   0x08, 0x00, 0x45, 0xB8, 0x01, 0xD8,              // IPv4, total length 472
                   0x02, 0x01, 0x40, 0x00, 0x80, 0x11, 0x00, 0x00,  // id, DF, TTL, UDP, checksum
                   0xC0, 0xA8, 0x01, 0x0A, 0x01, 0x02, 0x03, 0x04,  // source, destination
                   0x38, 0x21, 0x75, 0x30, 0x01, 0xC4, 0xFF, 0xFF,  // ports, UDP length, checksum
                   0x00, 0x03, 0x01, 0x00, 0x00, 0x00}));
}

TEST(RouteBlocksTest, TemplateOfEightChannelsMarksOneHundredThree) {
  const auto block = BuildTransmitTemplate(TemplateInputs(8, {1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + 8),
            Bytes({0xC1, 0xC0, 0xC3, 0xC2, 0xC5, 0xC4, 0xC7, 0xC6}));
  EXPECT_EQ(block[8], 103);
  EXPECT_EQ(block[59], 8);
}

TEST(RouteBlocksTest, TemplateOfNoChannelsHasBareHeaderLengths) {
  const auto block = BuildTransmitTemplate(TemplateInputs(0, kChannels5917));
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.begin() + 10),
            Bytes({0, 0, 0, 0, 0, 0, 0, 0, 95, 103}));
  EXPECT_EQ(std::vector<uint8_t>(block.begin() + 32, block.begin() + 34), Bytes({0x00, 0x28}));
  EXPECT_EQ(std::vector<uint8_t>(block.begin() + 54, block.begin() + 56), Bytes({0x00, 0x14}));
  EXPECT_EQ(block[59], 0);
}

TEST(RouteBlocksTest, TemplateCountWrapsModulo256) {
  const auto block = BuildTransmitTemplate(TemplateInputs(200, kChannels5917));
  EXPECT_EQ(block[8], uint8_t(200 + 95));
  EXPECT_EQ(block[59], 200);
  // 40 + 144 * 200 = 28840 = 0x70A8; 20 + 144 * 200 = 28820 = 0x7094.
  EXPECT_EQ(std::vector<uint8_t>(block.begin() + 32, block.begin() + 34), Bytes({0x70, 0xA8}));
  EXPECT_EQ(std::vector<uint8_t>(block.begin() + 54, block.begin() + 56), Bytes({0x70, 0x94}));
}

TEST(RouteProgrammerTest, SlotThirtyOneUsesTheLastRegisterAreas) {
  EventLog log;
  RecordingRegisterWriter writer(log);
  RouteProgrammer programmer(writer, RecordingPause(log));
  programmer.ProgramRouteReceive(kDevice, 31, 3, kChannels5917, kTxIp, 0);
  TransmitTemplateInputs inputs = TemplateInputs(3, kChannels5917);
  inputs.slot = 31;
  programmer.ProgramRouteTransmit(inputs);

  EXPECT_EQ(log.events(), (std::vector<std::string>{"write 3040 24", "pause 10", "write 3056 12",
                                                    "write 2016 64"}));
  const auto writes = writer.writes();
  EXPECT_EQ(std::vector<uint8_t>(writes[0].data.begin() + 6, writes[0].data.begin() + 8),
            Bytes({0x38, 0x3E}));  // slot port 14398
}

TEST(RouteProgrammerTest, ClearZeroesTemplateReceiveAndSummaryWithTwoPauses) {
  EventLog log;
  RecordingRegisterWriter writer(log);
  RouteProgrammer programmer(writer, RecordingPause(log));
  programmer.ClearRouteBlocks(kDevice, 1);

  EXPECT_EQ(log.events(), (std::vector<std::string>{"write 1056 64", "pause 10", "write 2080 24",
                                                    "pause 10", "write 2096 12"}));
  for (const auto& write : writer.writes()) {
    EXPECT_EQ(write.deviceAddress, kDevice);
    EXPECT_EQ(write.data, std::vector<uint8_t>(write.data.size(), 0));
  }
}

}  // namespace
}  // namespace halvyn
