#include "routes/route_request_handler.h"

#include <gtest/gtest.h>

#include "tests/routes/route_fakes.h"

namespace halvyn {
namespace {

using testing::AlphaToBetaRequest;
using testing::Bytes;
using testing::EventLog;
using testing::ReleasePacket;
using testing::RouteRequestPacket;

const uint32_t kDevice = NetworkAddress(192, 168, 1, 10);
const Ipv4Endpoint kAlpha{NetworkAddress(198, 51, 100, 7), 5000};
const Ipv4Endpoint kBeta{NetworkAddress(203, 0, 113, 9), 6000};
const Ipv4Endpoint kRequester{NetworkAddress(192, 0, 2, 55), 40000};

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  return {bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(from + count)};
}

class RouteRequestHandlerTest : public ::testing::Test {
 protected:
  RouteRequestHandlerTest() { state.ResetForDeviceSelection(kDevice); }

  void Request(uint8_t k, size_t length = route_packet::kSize) {
    handler.HandleRouteRequest(RouteRequestPacket(AlphaToBetaRequest(k), 0x5A, length), kRequester,
                               sender);
  }
  void Release(uint16_t slotPort, size_t length = route_packet::kSize) {
    handler.HandleRouteRelease(ReleasePacket(slotPort, length), kRequester, sender);
  }

  EventLog log;
  testing::RecordingRegisterWriter writer{log};
  testing::RecordingSender sender{log};
  testing::RecordingStarter starter{log};
  RouteProgrammer programmer{writer, testing::RecordingPause(log)};
  RouteState state;
  std::map<std::string, Ipv4Endpoint> clients;
  RouteCounters counters;
  RelayCounters relayCounters;
  RouteRequestHandler handler{state,
                              programmer,
                              starter,
                              testing::LookupIn(clients),
                              [this](RouteSlot slot) {
                                log.Add("posted " + std::to_string(slot));
                                if (onPosted) onPosted(slot);
                              },
                              counters,
                              relayCounters};
  std::function<void(RouteSlot)> onPosted;
};

TEST_F(RouteRequestHandlerTest, GrantProgramsDeviceStartsListenerThenAnswersTxThenRx) {
  Request(2, 300);  // longer than 228: handled like 228
  EXPECT_EQ(log.events(), (std::vector<std::string>{"write 2048 24", "pause 10", "write 2064 12",
                                                    "listen 14367", "send u", "send v"}));
  for (const auto& write : writer.writes()) EXPECT_EQ(write.deviceAddress, kDevice);
  EXPECT_EQ(Slice(writer.writes()[1].data, 0, 4), Bytes({2, 0, 0x1F, 0x38}));

  const auto sent = sender.Sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].destination, kAlpha);
  EXPECT_EQ(sent[1].destination, kBeta);
  for (const auto& reply : sent) {
    EXPECT_EQ(reply.bytes.size(), 228u);
    EXPECT_EQ(reply.bytes[3], 0x5A);
    EXPECT_EQ(Slice(reply.bytes, 4, 116), std::vector<uint8_t>(116, 0));
  }
  EXPECT_EQ(Slice(sent[0].bytes, 120 + 8, 2), Bytes({0x88, 0x13}));   // u: tx_port 5000
  EXPECT_EQ(Slice(sent[0].bytes, 120 + 28, 2), Bytes({0x1F, 0x38}));  // u: rx_port 14367
  EXPECT_EQ(Slice(sent[1].bytes, 120 + 8, 2), Bytes({0x1F, 0x38}));   // v: tx_port 14367
  EXPECT_EQ(Slice(sent[1].bytes, 120 + 28, 2), Bytes({0x70, 0x17}));  // v: rx_port 6000
  // The replies do not report the allocated channels.
  EXPECT_EQ(Slice(sent[0].bytes, 132, 8), Slice(RouteRequestPacket(AlphaToBetaRequest(2)), 132, 8));
}

TEST_F(RouteRequestHandlerTest, GrantDoesNotNeedTheDevicesLoggedIn) {
  Request(1);
  Request(1);
  EXPECT_EQ(state.routeSlotMask(), 0b11u);
  EXPECT_EQ(Slice(sender.Sent()[3].bytes, 120 + 8, 2), Bytes({0x20, 0x38}));  // second v: 14368
}

TEST_F(RouteRequestHandlerTest, ShortRequestIsIgnored) {
  Request(2, 227);
  Request(2, 120);
  EXPECT_TRUE(log.events().empty());
  EXPECT_EQ(state.routeSlotMask(), 0u);
}

TEST_F(RouteRequestHandlerTest, RefusalAnswersSlotPortZeroWithoutWritesOrListener) {
  Request(9);
  EXPECT_EQ(log.events(), (std::vector<std::string>{"send u", "send v"}));
  EXPECT_EQ(Slice(sender.Sent()[0].bytes, 120 + 28, 2), Bytes({0, 0}));
  EXPECT_EQ(Slice(sender.Sent()[1].bytes, 120 + 8, 2), Bytes({0, 0}));
  EXPECT_EQ(state.routeSlotMask(), 0u);
}

TEST_F(RouteRequestHandlerTest, ReleasePostsThenNotifiesTxAndRxWithTheOldRecord) {
  Request(1);
  Request(2);  // slot 1, channels 2 and 3
  log.Clear();
  clients["beta"] = {NetworkAddress(203, 0, 113, 9), 6111};  // a keep-alive moved its port
  // The window may run the release as soon as it is posted.
  onPosted = [this](RouteSlot slot) { state.ReleaseRoute(slot); };

  Release(14368);
  EXPECT_EQ(log.events(), (std::vector<std::string>{"posted 1", "send t", "send s"}));
  EXPECT_EQ(state.routeSlotMask(), 0b01u);

  const auto sent = sender.Sent();
  ASSERT_EQ(sent.size(), 6u);
  const auto& t = sent[4];
  const auto& s = sent[5];
  EXPECT_EQ(t.destination, kAlpha);
  EXPECT_EQ(s.destination, (Ipv4Endpoint{kBeta.address, 6111}));
  for (const auto& notice : {t, s}) {
    EXPECT_EQ(notice.bytes.size(), 228u);
    EXPECT_EQ(Slice(notice.bytes, 3, 117), std::vector<uint8_t>(117, 0));
    EXPECT_EQ(Slice(notice.bytes, 132, 8), Bytes({2, 3, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Slice(notice.bytes, 120 + 8, 2), Bytes({0x88, 0x13}));
    EXPECT_EQ(Slice(notice.bytes, 120 + 28, 2), Bytes({0x70, 0x17}));  // the stored rx_port
  }
  EXPECT_EQ(t.bytes[2], 't');
  EXPECT_EQ(s.bytes[2], 's');
}

TEST_F(RouteRequestHandlerTest, ReleaseNoticeGoesToStoredRxPortWhenRxIsNotLoggedIn) {
  Request(1);
  Release(14367);
  EXPECT_EQ(sender.Sent().back().destination, kBeta);
}

TEST_F(RouteRequestHandlerTest, ReleaseOutsideTheSlotPortsOrTooShortDoesNothing) {
  Request(1);
  log.Clear();
  Release(14366);
  Release(14399);
  Release(65535);
  Release(14367, 121);
  Release(14367, 120);
  EXPECT_TRUE(log.events().empty());
  EXPECT_EQ(state.routeSlotMask(), 1u);
}

TEST_F(RouteRequestHandlerTest, ReleaseOfAFreeSlotSendsNothingToTheZeroRecord) {
  clients[""] = {NetworkAddress(192, 0, 2, 1), 7777};
  Release(14398);
  // "t" would go to 0.0.0.0:0 and "s" to 0.0.0.0:7777: addressed to no one.
  EXPECT_EQ(log.events(), (std::vector<std::string>{"posted 31"}));
}

TEST_F(RouteRequestHandlerTest, RepeatedReleaseWhileOneIsPendingAddsNoWork) {
  Request(1);
  log.Clear();
  Release(14367);
  Release(14367);  // the window has not released the slot yet
  Release(14367);
  EXPECT_EQ(log.events(), (std::vector<std::string>{"posted 0", "send t", "send s"}));
  state.ReleaseRoute(0);  // the window's release
  log.Clear();
  Release(14367);
  EXPECT_EQ(log.events(), (std::vector<std::string>{"posted 0"}));  // a zero record: no notices
}

TEST_F(RouteRequestHandlerTest, RepliesToAZeroAddressOrPortAreNotSent) {
  CRouteInfo body = AlphaToBetaRequest(1);
  body.set_tx_ip(0);
  body.set_rx_port(0);
  handler.HandleRouteRequest(RouteRequestPacket(body, 0, route_packet::kSize), kRequester, sender);
  EXPECT_TRUE(sender.Sent().empty());
  EXPECT_EQ(state.routeSlotMask(), 1u);  // the route is granted as before
}

}  // namespace
}  // namespace halvyn
