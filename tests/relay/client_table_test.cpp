#include "relay/client_table.h"

#include <gtest/gtest.h>

#include "tests/support/relay_datagrams.h"

namespace halvyn {
namespace {

using testing::NamedRecord;

ClientRecord Filled(std::string_view name, uint8_t fill) {
  ClientRecord record;
  record.bytes.fill(fill);
  record.set_name(name);
  return record;
}

TEST(ClientTable, GrowsByDoublingAndKeepsRecordsInLoginOrder) {
  ClientTable table;
  EXPECT_EQ(table.capacity(), 10);
  for (int i = 0; i < 11; ++i)
    ASSERT_TRUE(table.Add(Filled("client" + std::to_string(i), uint8_t(i + 1))));
  EXPECT_EQ(table.capacity(), 20);
  ASSERT_EQ(table.count(), 11);
  for (int i = 0; i < 11; ++i)
    EXPECT_EQ(*table.At(i), Filled("client" + std::to_string(i), uint8_t(i + 1))) << i;

  for (int i = 11; i < 41; ++i) table.Add(NamedRecord("client" + std::to_string(i)));
  EXPECT_EQ(table.capacity(), 80);
  table.Clear();
  EXPECT_EQ(table.count(), 0);
  EXPECT_EQ(table.capacity(), 80);
  EXPECT_FALSE(table.Find("client3"));
}

TEST(ClientTable, DuplicateNameIsRefusedAndStoredRecordUntouched) {
  ClientTable table;
  const ClientRecord first = Filled("dev7", 0x11);
  ASSERT_TRUE(table.Add(first));
  EXPECT_FALSE(table.Add(Filled("dev7", 0x22)));
  EXPECT_EQ(table.count(), 1);
  EXPECT_EQ(*table.Find("dev7"), first);
}

TEST(ClientTable, NamesAreCaseSensitive) {
  ClientTable table;
  EXPECT_TRUE(table.Add(NamedRecord("Alpha")));
  EXPECT_TRUE(table.Add(NamedRecord("alpha")));
  EXPECT_EQ(table.count(), 2);
  EXPECT_FALSE(table.Find("ALPHA"));
}

TEST(ClientTable, RemovalClosesTheGapInOrder) {
  ClientTable table;
  table.Add(NamedRecord("a"));
  table.Add(NamedRecord("b"));
  table.Add(NamedRecord("c"));
  EXPECT_TRUE(table.Remove("b"));
  ASSERT_EQ(table.count(), 2);
  EXPECT_EQ(table.At(0)->name(), "a");
  EXPECT_EQ(table.At(1)->name(), "c");
  // The index follows the moved record.
  EXPECT_EQ(table.Find("c")->name(), "c");
  EXPECT_FALSE(table.Remove("b"));
  EXPECT_TRUE(table.Remove("a"));
  EXPECT_TRUE(table.Remove("c"));
  EXPECT_EQ(table.count(), 0);
  EXPECT_FALSE(table.Find("c"));
}

TEST(ClientTable, RemoveIfSilentUsesTheUnsignedDifference) {
  ClientTable table;
  ClientRecord stays = NamedRecord("stays");
  stays.set_last_seen(1000 - 24599);
  ClientRecord goes = NamedRecord("goes");
  goes.set_last_seen(1000 - 24600);
  table.Add(stays);
  table.Add(goes);
  EXPECT_FALSE(table.RemoveIfSilent(0, 1000, 24600));
  auto removed = table.RemoveIfSilent(1, 1000, 24600);
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->name(), "goes");
  EXPECT_EQ(table.count(), 1);
}

TEST(ClientTable, UpdateChangesTheStoredRecord) {
  ClientTable table;
  table.Add(NamedRecord("x"));
  EXPECT_TRUE(table.Update("x", [](ClientRecord& r) { r.set_port(4242); }));
  EXPECT_FALSE(table.Update("y", [](ClientRecord&) { FAIL(); }));
  EXPECT_EQ(table.Find("x")->port(), 4242);
}

TEST(ClientTable, ListDatagramHasOneBlockPerClientAndCountModulo256) {
  ClientTable table;
  for (int i = 0; i < 300; ++i) {
    ClientRecord record = NamedRecord("c" + std::to_string(i));
    record.set_ip(NetworkAddress(10, 0, uint8_t(i >> 8), uint8_t(i)));
    record.set_port(uint16_t(1000 + i));
    table.Add(record);
  }
  std::vector<uint8_t> datagram;
  std::vector<Ipv4Endpoint> destinations;
  table.BuildClientList(datagram, destinations);
  ASSERT_EQ(datagram.size(), 36000u);
  ASSERT_EQ(destinations.size(), 300u);
  for (int k = 0; k < 300; ++k) {
    const uint8_t* block = datagram.data() + 120 * k;
    EXPECT_EQ(block[0], 'p');
    EXPECT_EQ(block[1], 'r');
    EXPECT_EQ(block[2], 'h');
    EXPECT_EQ(block[3], 44);  // 300 modulo 256
    EXPECT_EQ(ClientRecord::At(datagram, 120 * k + 4).value(), *table.At(k));
  }
  EXPECT_EQ(destinations[299], (Ipv4Endpoint{NetworkAddress(10, 0, 1, 43), 1299}));
}

}  // namespace
}  // namespace halvyn
