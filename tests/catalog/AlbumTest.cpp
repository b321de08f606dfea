#include "catalog/Album.h"

#include <gtest/gtest.h>

#include "loomkit/io/BooleanIO.h"
#include "loomkit/plist/DictNode.h"
#include "tests/catalog/CatalogFixtures.h"

using fotello::Album;
using fotello::test::over;
using fotello::test::written;

namespace {

Album albumWith(const char* name, int64_t id, std::initializer_list<const char*> keys) {
  Album album;
  album.setString(name, "AlbumName");
  album.setInteger(id, "AlbumId");
  for (const char* key : keys) album.addPhotoKey(key);
  return album;
}

}  // namespace

TEST(AlbumTest, KeysAreWrittenInCodePointOrder) {
  Album album = albumWith("Trip", 3, {"9", "100", "10"});
  album.setBoolean(true, "Master");
  loomkit::Bytes expected;
  loomkit::StringIO::write(std::string_view("Trip"), expected);
  loomkit::IntegerIO::writeInt32(3, expected);
  loomkit::BooleanIO::write(true, expected);
  loomkit::IntegerIO::writeUInt64(3, expected);
  for (const char* key : {"10", "100", "9"}) loomkit::StringIO::write(std::string_view(key), expected);
  const loomkit::Bytes bytes = written([&](auto& out) { return album.writeToStream(out); });
  EXPECT_EQ(bytes, expected);

  auto in = over(bytes);
  std::optional<Album> back = Album::initFromStream(*in);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, album);
  EXPECT_TRUE(back->isMaster());
}

TEST(AlbumTest, SettersTakeOnlyTheirKeys) {
  Album album;
  album.setString("Ignored", "RollName");
  album.setInteger(0x100000007, "AlbumId");
  album.setInteger(9, "PhotoCount");
  album.setBoolean(true, "Hidden");
  EXPECT_EQ(album.name(), std::nullopt);
  EXPECT_EQ(album.iPhotoId(), 7) << "the low 32 bits";
  EXPECT_FALSE(album.isMaster());
  album.setString("Name", "AlbumName");
  album.setString("", "AlbumName");
  EXPECT_EQ(album.name(), std::nullopt) << "empty means absent";

  loomkit::DictNode dict;
  dict.putString("Summer", "AlbumName");
  dict.putInt(12, "AlbumId");
  dict.putBoolean(true, "Master");
  auto keys = std::make_unique<loomkit::ArrayNode>();
  keys->add(std::make_unique<loomkit::StringNode>("5"));
  keys->add(std::make_unique<loomkit::IntegerNode>(6));
  keys->add(std::make_unique<loomkit::StringNode>("5"));
  dict.put(std::move(keys), "KeyList");
  Album fromPlist;
  fromPlist.setFromPlist(dict);
  EXPECT_EQ(fromPlist.name(), "Summer");
  EXPECT_EQ(fromPlist.iPhotoId(), 12);
  EXPECT_TRUE(fromPlist.isMaster());
  EXPECT_EQ(fromPlist.photoKeys(), Album::KeySet({"5"}));
}

TEST(AlbumTest, EqualityNeedsPresentEqualNames) {
  EXPECT_EQ(albumWith("A", 1, {"1", "2"}), albumWith("A", 1, {"2", "1"}));
  EXPECT_EQ(albumWith("A", 1, {"1"}).hash(), albumWith("A", 1, {"1"}).hash());
  EXPECT_FALSE(albumWith("A", 1, {"1"}) == albumWith("A", 1, {"1", "2"}));
  EXPECT_FALSE(albumWith("A", 1, {"1"}) == albumWith("A", 2, {"1"}));
  EXPECT_FALSE(albumWith("", 1, {"1"}) == albumWith("", 1, {"1"})) << "absent names never equal";
  Album copy = albumWith("A", 1, {"1"});
  Album original = copy;
  copy.addPhotoKey("2");
  EXPECT_EQ(original.photoKeys().size(), 1u) << "a copy is independent";
}

TEST(AlbumTest, AHugeKeyCountFailsAtTheEndOfTheBytes) {
  loomkit::Bytes bytes;
  loomkit::StringIO::write(std::string_view("A"), bytes);
  loomkit::IntegerIO::writeInt32(1, bytes);
  loomkit::BooleanIO::write(false, bytes);
  loomkit::IntegerIO::writeUInt64(UINT64_MAX, bytes);
  loomkit::StringIO::write(std::string_view("1"), bytes);
  auto in = over(bytes);
  loomkit::Error error;
  EXPECT_FALSE(Album::initFromStream(*in, &error));
  EXPECT_EQ(error.code(), loomkit::BufferedInputStream::kEndOfStreamCode);
}
