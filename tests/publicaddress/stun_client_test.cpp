#include "publicaddress/stun_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/resolver.h"
#include "publicaddress/stun_counters.h"
#include "tests/publicaddress/stun_samples.h"
#include "tests/support/recording_sender.h"

namespace halvyn {
namespace {

using testing::RecordingSender;
using testing::SentDatagram;

class StunClientTest : public ::testing::Test {
 protected:
  StunClientTest() { sender_.FailEverySend(); }  // a failed send must not stop the others

  StunCounters counters_;
  StunClient client_{counters_,
                     [this](std::string_view name) -> std::optional<std::vector<uint32_t>> {
                       askedFor_.emplace_back(name);
                       return resolved_;
                     },
                     [this] { return draws_++; }};
  std::optional<std::vector<uint32_t>> resolved_;
  std::vector<std::string> askedFor_;
  uint32_t draws_ = 0x100;
  RecordingSender sender_;
};

TEST_F(StunClientTest, SendsTheSameRequestToPort3478OfEveryAddressInOrder) {
  const uint32_t a = NetworkAddress(127, 0, 0, 3), b = NetworkAddress(127, 0, 0, 1);
  resolved_ = std::vector<uint32_t>{a, b, a};
  EXPECT_EQ(client_.SendBindingRequests(sender_, " stun.example.org "), StunSendOutcome::kSent);

  EXPECT_EQ(askedFor_, std::vector<std::string>{" stun.example.org "});  // not trimmed
  ASSERT_EQ(sender_.Sent().size(), 3u);
  EXPECT_EQ(sender_.Sent()[0].destination, (Ipv4Endpoint{a, 3478}));
  EXPECT_EQ(sender_.Sent()[1].destination, (Ipv4Endpoint{b, 3478}));
  EXPECT_EQ(sender_.Sent()[2].destination, (Ipv4Endpoint{a, 3478}));
  const std::vector<uint8_t> expected = {0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xa4,
                                         0x42, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05,
                                         0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b};
  for (const SentDatagram& d : sender_.Sent()) EXPECT_EQ(d.bytes, expected);
}

TEST_F(StunClientTest, EveryPressDrawsAFreshTransactionId) {
  resolved_ = std::vector<uint32_t>{NetworkAddress(127, 0, 0, 1)};
  client_.SendBindingRequests(sender_, "localhost");
  client_.SendBindingRequests(sender_, "localhost");
  ASSERT_EQ(sender_.Sent().size(), 2u);
  EXPECT_EQ(sender_.Sent()[1].bytes[8], 0x0c);
  EXPECT_EQ(sender_.Sent()[1].bytes[19], 0x17);
}

TEST_F(StunClientTest, UnresolvedServerTextSendsNothing) {
  EXPECT_EQ(client_.SendBindingRequests(sender_, "no such server"), StunSendOutcome::kUnresolved);
  EXPECT_TRUE(sender_.Sent().empty());
  EXPECT_EQ(InvalidUrlMessage("no such server"), "Invalid URL:no such server");
}

TEST(ResolveIpv4Addresses, NamesAndDottedTextResolveLocally) {
  EXPECT_EQ(ResolveIpv4Addresses("127.0.0.2"), std::vector<uint32_t>{NetworkAddress(127, 0, 0, 2)});
  const auto localhost = ResolveIpv4Addresses("localhost");
  ASSERT_TRUE(localhost);
  EXPECT_NE(std::find(localhost->begin(), localhost->end(), NetworkAddress(127, 0, 0, 1)),
            localhost->end());
  // A NUL would otherwise cut the name short to one that resolves.
  EXPECT_FALSE(ResolveIpv4Addresses(std::string_view("127.0.0.1\0.example", 18)));
}

class StunAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(receiver_.Bind({NetworkAddress(127, 0, 0, 1), 0}), 0);
    to_ = receiver_.LocalEndpoint();
  }
  void Send(const std::vector<uint8_t>& datagram) {
    ASSERT_TRUE(sender_.SendTo(datagram, to_));
    ASSERT_TRUE(receiver_.WaitReadable(2000));
  }
  UdpSocket receiver_;
  UdpSocket sender_;
  Ipv4Endpoint to_;
  StunCounters counters_;
  StunClient client_{counters_};
};

TEST_F(StunAnswerTest, ReadsOneDatagramPerCall) {
  EXPECT_FALSE(client_.ReadAnswer(receiver_));  // nothing waiting: no blocking
  Send(testing::kRfc5769Ipv4Response);
  Send(std::vector<uint8_t>(70, 0x5a));  // device traffic on the same socket
  Send(testing::kRfc5769Ipv4Response);

  EXPECT_EQ(client_.ReadAnswer(receiver_), (Ipv4Endpoint{NetworkAddress(192, 0, 2, 1), 32853}));
  EXPECT_FALSE(client_.ReadAnswer(receiver_));
  EXPECT_TRUE(client_.ReadAnswer(receiver_));
  EXPECT_FALSE(client_.ReadAnswer(receiver_));
}

TEST_F(StunAnswerTest, DropsADatagramLongerThanTheBuffer) {
  std::vector<uint8_t> oversized = testing::kRfc5769Ipv4Response;
  oversized.resize(kStunReceiveBufferSize + 1);  // valid message, trailing bytes
  Send(oversized);
  EXPECT_FALSE(client_.ReadAnswer(receiver_));
  EXPECT_EQ(counters_.oversized.Value(), 1u);
  oversized.resize(kStunReceiveBufferSize);
  Send(oversized);
  EXPECT_TRUE(client_.ReadAnswer(receiver_));
}

}  // namespace
}  // namespace halvyn
