#include "catalog/Roll.h"

#include <gtest/gtest.h>

#include "loomkit/io/DateIO.h"
#include "loomkit/plist/DictNode.h"
#include "tests/catalog/CatalogFixtures.h"

using fotello::Roll;

TEST(RollTest, FromTheIndexWithDefaultsForMissingValues) {
  loomkit::DictNode full;
  full.putInt(4, "RollID");
  full.putString("Import", "RollName");
  full.putDouble(100.5, "RollDateAsTimerInterval");
  full.putString("17", "KeyPhotoKey");
  full.putInt(3, "PhotoCount");
  Roll roll(full);
  EXPECT_EQ(roll.iPhotoId(), 4);
  EXPECT_EQ(roll.name(), "Import");
  EXPECT_EQ(roll.date(), 100.5);
  EXPECT_EQ(roll.keyIPhotoId(), 17);
  EXPECT_EQ(roll.photoCount(), 3);

  Roll empty{loomkit::DictNode()};
  EXPECT_EQ(empty.iPhotoId(), 0);
  EXPECT_EQ(empty.name(), std::nullopt);
  EXPECT_EQ(empty.date(), 0.0) << "a missing date is the reference date itself";
  EXPECT_EQ(empty.photoCount(), 0);
}

TEST(RollTest, RecordStoresTheDateAsMillisecondsSince1970) {
  loomkit::DictNode dict;
  dict.putInt(-2, "RollID");
  dict.putDouble(100.5, "RollDateAsTimerInterval");
  dict.putInt(9, "KeyPhotoKey");
  dict.putInt(1, "PhotoCount");
  const Roll roll(dict);
  loomkit::Bytes expected;
  loomkit::IntegerIO::writeInt32(-2, expected);
  loomkit::StringIO::write(std::nullopt, expected);
  loomkit::DateIO::write(978307300.5, expected);
  loomkit::IntegerIO::writeInt32(9, expected);
  loomkit::IntegerIO::writeInt32(1, expected);
  const loomkit::Bytes bytes = fotello::test::written([&](auto& out) { return roll.writeToStream(out); });
  EXPECT_EQ(bytes, expected);

  auto in = fotello::test::over(bytes);
  std::optional<Roll> back = Roll::initFromStream(*in);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->iPhotoId(), -2);
  EXPECT_EQ(back->date(), 100.5);
  EXPECT_EQ(back->keyIPhotoId(), 9);

  auto truncated = fotello::test::over(loomkit::Bytes(bytes.begin(), bytes.end() - 1));
  EXPECT_FALSE(Roll::initFromStream(*truncated));
}
