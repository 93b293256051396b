#include "platform/byte_order.h"

#include <gtest/gtest.h>

#include "platform/ipv4.h"

namespace halvyn {
namespace {

TEST(ByteOrder, LoadsAndStoresNameTheirOrder) {
  uint8_t b[4] = {};
  StoreLe16(b, 0x1234);
  EXPECT_EQ(b[0], 0x34);
  EXPECT_EQ(LoadLe16(b), 0x1234);
  StoreBe16(b, 0x1234);
  EXPECT_EQ(b[0], 0x12);
  EXPECT_EQ(LoadBe16(b), 0x1234);
  StoreLe32(b, 0x11223344);
  EXPECT_EQ(b[0], 0x44);
  EXPECT_EQ(LoadLe32(b), 0x11223344u);
  StoreBe32(b, 0x2112A442);
  EXPECT_EQ(b[0], 0x21);
  EXPECT_EQ(b[3], 0x42);
  EXPECT_EQ(LoadBe32(b), 0x2112A442u);
}

TEST(Ipv4, NetworkAndHostOrderAndDottedText) {
  const uint32_t address = NetworkAddress(192, 168, 1, 20);
  EXPECT_EQ(NetworkToHostOrder(address), 0xC0A80114u);
  EXPECT_EQ(HostToNetworkOrder(0xC0A80114u), address);
  EXPECT_EQ(DottedText(address), "192.168.1.20");
  EXPECT_EQ(ParseDotted("192.168.1.20"), address);
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "a.b.c.d", "1..2.3"})
    EXPECT_FALSE(ParseDotted(bad)) << bad;
}

}  // namespace
}  // namespace halvyn
