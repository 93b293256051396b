#include <gtest/gtest.h>

#include "devicelink/device_setup_packet.h"
#include "devicelink/device_write_packet.h"
#include "tools/devsim/devsim_options.h"
#include "tools/devsim/register_image.h"

namespace halvyn::devsim {
namespace {

TEST(DevsimRegisterImageTest, BlockWriteFillsConsecutiveRegistersHighByteFirst) {
  RegisterImage image;
  const uint8_t data[] = {0x11, 0x22, 0x33};
  const auto packet = DeviceWritePacket::Build(0x0810, data);
  const AppliedDatagram applied = image.Apply(packet->bytes());
  EXPECT_EQ(applied.kind, AppliedDatagram::Kind::kBlockWrite);
  EXPECT_EQ(applied.firstRegister, 0x0810);
  EXPECT_EQ(applied.length, 4u);
  EXPECT_EQ(applied.registersWritten, 2u);
  EXPECT_FALSE(applied.malformed);
  EXPECT_EQ(image.Get(0x0810), 0x1122);
  EXPECT_EQ(image.Get(0x0811), 0x3300);
  EXPECT_EQ(image.DumpText(1), "datagrams 1\n0x0810 0x1122\n0x0811 0x3300\n");
}

TEST(DevsimRegisterImageTest, SetupDatagramWritesItsEightRegisters) {
  RegisterImage image;
  const DeviceSetupPacket setup =
      BuildDeviceSetupPacket({0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, 0xC0A80114);
  const AppliedDatagram applied = image.Apply(setup);
  EXPECT_EQ(applied.kind, AppliedDatagram::Kind::kSetup);
  EXPECT_EQ(applied.registersWritten, 8u);
  EXPECT_EQ(image.DumpText(1),
            "datagrams 1\n0x0006 0x0020\n0x001A 0x0011\n0x001B 0x2233\n0x001C 0x4455\n"
            "0x001D 0xC0A8\n0x001E 0x0114\n0x0022 0xFFFF\n0x0023 0xFFFF\n");
}

TEST(DevsimRegisterImageTest, ForeignOrShortDatagramsAreReportedNotApplied) {
  RegisterImage image;
  const uint8_t stun[] = {0x01, 0x01, 0x00, 0x00, 0x21, 0x12, 0xA4, 0x42};
  EXPECT_EQ(image.Apply(stun).kind, AppliedDatagram::Kind::kUnknown);
  // A block whose length claims more bytes than arrived: the whole pairs that did arrive count.
  const uint8_t cut[] = {'v',  'e',  'l', 't', 'r',  'w',  0x00, 0x40,
                         0xC0, 0x08, 0,   0,   0xAB, 0xCD, 0xEF};
  const AppliedDatagram applied = image.Apply(cut);
  EXPECT_TRUE(applied.malformed);
  EXPECT_EQ(applied.registersWritten, 1u);
  EXPECT_EQ(image.Get(0x0040), 0xABCD);
  EXPECT_EQ(image.written().size(), 1u);
}

TEST(DevsimOptionsTest, AnnouncementFieldsAndAddressesFromTheCommandLine) {
  std::string error;
  const auto options = ParseDevsimOptions(
      {"--id", "DEV-9", "--name", "Rack B", "--mac", "02:aa:bb:cc:dd:ee", "--fpga-version", "1a05",
       "--byte18", "0x7F", "--byte19", "200", "--interface", "10.200.0.101", "--interval-ms", "250",
       "--dump-file", "/tmp/x"},
      error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->announcement.deviceId, "DEV-9");
  EXPECT_EQ(options->announcement.deviceName, "Rack B");
  EXPECT_EQ(options->announcement.mac, (MacAddress{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}));
  EXPECT_EQ(options->announcement.fpgaVersion, 0x1A05);
  EXPECT_EQ(options->announcement.byte18, 0x7F);
  EXPECT_EQ(options->announcement.byte19, 200);
  EXPECT_EQ(options->sourceAddress, NetworkAddress(10, 200, 0, 101));
  EXPECT_EQ(options->intervalMs, 250u);
  EXPECT_EQ(options->dumpFile, "/tmp/x");
  EXPECT_EQ(options->listen, (Ipv4Endpoint{0, 4440}));
  EXPECT_EQ(options->announceTo, (Ipv4Endpoint{NetworkAddress(224, 0, 0, 222), 9887}));
  // Without --mac, the MAC follows the ID: two devices never share one by default.
  const auto one = ParseDevsimOptions({"--id", "DEV-1"}, error);
  const auto two = ParseDevsimOptions({"--id", "DEV-2"}, error);
  ASSERT_TRUE(one && two);
  EXPECT_EQ(one->announcement.mac, DefaultDevsimMac("DEV-1"));
  EXPECT_NE(one->announcement.mac, two->announcement.mac);
  EXPECT_EQ(std::vector<uint8_t>(one->announcement.mac.begin(), one->announcement.mac.begin() + 3),
            (std::vector<uint8_t>{0x02, 0x48, 0x56}));
  EXPECT_EQ(ParseDevsimOptions({}, error)->announcement.mac, DefaultDevsimMac("DEVSIM-0001"));

  EXPECT_FALSE(ParseDevsimOptions({"--byte18", "256"}, error));
  EXPECT_FALSE(ParseDevsimOptions({"--fpga-version", "12345"}, error));
  EXPECT_FALSE(ParseDevsimOptions({"--listen", "10.0.0.1"}, error));
  EXPECT_FALSE(ParseDevsimOptions({"--id"}, error));
  EXPECT_FALSE(ParseDevsimOptions({"--bogus"}, error));
}

TEST(DevsimOptionsTest, MistakesAreNamedWithTheOptionAndTheWord) {
  std::string error;
  const std::pair<std::vector<std::string>, std::string> wrong[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"--quiet=1"}, "unknown option --quiet=1"},
      {{"--quiet", "-q"}, "unknown option -q"},
      {{"--name"}, "--name needs a value"},
      {{"--interval-ms", "0"}, "invalid value for --interval-ms: 0"},
      {{"--announce-to", "224.0.0.1"}, "invalid value for --announce-to: 224.0.0.1"},
      {{"--interface", "eth0"}, "invalid value for --interface: eth0"},
  };
  for (const auto& [args, message] : wrong) {
    error.clear();
    EXPECT_FALSE(ParseDevsimOptions(args, error)) << message;
    EXPECT_EQ(error, message);
  }
  const auto hex = ParseDevsimOptions({"--interval-ms", "0x10", "--listen", "0.0.0.0:4441"}, error);
  ASSERT_TRUE(hex) << error;
  EXPECT_EQ(hex->intervalMs, 16u);
  EXPECT_EQ(hex->listen, (Ipv4Endpoint{0, 4441}));
}

}  // namespace
}  // namespace halvyn::devsim
