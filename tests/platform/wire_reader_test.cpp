#include "platform/wire_reader.h"

#include <gtest/gtest.h>

#include <array>

#include "platform/wire_writer.h"

namespace halvyn {
namespace {

TEST(WireReader, ReadsInsideTheRecordAndNothingPastItsEnd) {
  const uint8_t bytes[6] = {0x12, 0x34, 0x56, 0x78, 'a', 0};
  const WireReader reader(bytes);
  EXPECT_EQ(reader.Le16(0), 0x3412);
  EXPECT_EQ(reader.Be16(0), 0x1234);
  EXPECT_EQ(reader.Le32(0), 0x78563412u);
  EXPECT_EQ(reader.Be32(0), 0x12345678u);
  EXPECT_EQ(reader.U8(5), 0);
  EXPECT_FALSE(reader.U8(6));
  EXPECT_FALSE(reader.Le16(5));
  EXPECT_FALSE(reader.Be32(3));
  EXPECT_FALSE(reader.Bytes(SIZE_MAX, 2));  // an offset that would wrap around
  EXPECT_EQ(reader.Fixed<2>(4)->front(), 'a');
  EXPECT_FALSE(reader.Fixed<3>(4));
  EXPECT_EQ(reader.TerminatedText(4), "a");
  EXPECT_FALSE(WireReader(std::span(bytes).first(5)).TerminatedText(4));
  EXPECT_EQ(reader.TextAt(4, 10), "a");
  EXPECT_EQ(WireReader(std::span(bytes).first(3)).TextAt(1, 10), "\x34\x56");
  EXPECT_EQ(reader.TextAt(9, 10), "");
}

TEST(WireWriter, AWriteThatDoesNotFitWritesNothingAndTheWriterStaysFailed) {
  std::array<uint8_t, 4> buffer{};
  WireWriter writer(buffer);
  writer.Be16(0, 0x1234).Le16(2, 0x1234);
  EXPECT_TRUE(writer.ok());
  EXPECT_EQ(buffer, (std::array<uint8_t, 4>{0x12, 0x34, 0x34, 0x12}));
  writer.Le32(1, 0).U8(0, 0);
  EXPECT_FALSE(writer.ok());
  EXPECT_EQ(buffer, (std::array<uint8_t, 4>{0x12, 0x34, 0x34, 0x12}));
}

}  // namespace
}  // namespace halvyn
