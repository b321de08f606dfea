#include "platform/AvahiTXTRecord.h"

#include <gtest/gtest.h>

#include "loomkit/http/NetServices.h"

using fotello::AvahiTXTRecord;
using loomkit::Bytes;
using loomkit::NetServices;

namespace {

// The record as avahi would put it on the wire.
Bytes wireForm(AvahiStringList* list) {
  Bytes wire(9000);
  wire.resize(avahi_string_list_serialize(list, wire.data(), wire.size()));
  return wire;
}

bool hasEmptyItem(const Bytes& wire) {
  for (size_t at = 0; at < wire.size(); at += 1 + wire[at]) {
    if (wire[at] == 0) return true;
  }
  return false;
}

Bytes item(size_t size, uint8_t first) {
  Bytes bytes{static_cast<uint8_t>(size)};
  for (size_t i = 0; i < size; ++i) bytes.push_back(i == 0 ? first : 'x');
  return bytes;
}

TEST(AvahiTXTRecordTest, EveryRecordSurvivesTheWayThroughAvahi) {
  const Bytes records[] = {
      {1, '6', 0, 1, '0', 0, 0},        // absent values, two in a row and last
      {0, 3, 'a', 'b', 'c'},            // absent first
      {1, 0, 2, 0, 0, 3, 0, 'a', 'b'},  // items beginning with zero bytes
      {5, 'k', 'e', 'y', '=', 'v'},     // an ordinary record goes out unchanged
      item(255, 'a'),
      item(254, 0),
  };
  for (const Bytes& record : records) {
    std::optional<AvahiTXTRecord::StringList> list = AvahiTXTRecord::stringListFor(record);
    ASSERT_TRUE(list) << record.size();
    Bytes wire = wireForm(list->get());
    EXPECT_FALSE(hasEmptyItem(wire)) << "avahi refuses zero-length items";
    EXPECT_EQ(AvahiTXTRecord::fromWireForm(wire.data(), wire.size()), record);
  }
  Bytes ordinary = {5, 'k', 'e', 'y', '=', 'v'};
  EXPECT_EQ(wireForm(AvahiTXTRecord::stringListFor(ordinary)->get()), ordinary);
}

TEST(AvahiTXTRecordTest, EmptyAndUnacceptableRecords) {
  // No bytes and one empty item are both the empty record: avahi sends it as one empty item.
  for (const Bytes& empty : {Bytes{}, Bytes{0}}) {
    std::optional<AvahiTXTRecord::StringList> list = AvahiTXTRecord::stringListFor(empty);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->get(), nullptr);
  }
  const Bytes wireEmpty = {0};
  EXPECT_EQ(AvahiTXTRecord::fromWireForm(wireEmpty.data(), wireEmpty.size()), NetServices::emptyTXTRecordData());
  EXPECT_EQ(AvahiTXTRecord::fromWireForm(nullptr, 0), NetServices::emptyTXTRecordData());
  EXPECT_EQ(AvahiTXTRecord::fromResolverList(nullptr), NetServices::emptyTXTRecordData());

  for (const Bytes& bad : {Bytes{2, 'a'}, item(255, 0)}) {
    loomkit::Error error;
    EXPECT_FALSE(AvahiTXTRecord::stringListFor(bad, &error));
    EXPECT_EQ(error.code(), NetServices::kBadArgumentError);
  }
  // A truncated record from the network loses only its broken tail.
  const Bytes truncated = {1, 'a', 5, 'b'};
  EXPECT_EQ(AvahiTXTRecord::fromWireForm(truncated.data(), truncated.size()), (Bytes{1, 'a'}));
}

}  // namespace
