#include "catalog/AlbumData.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <thread>

#include "loomkit/crypto/SHA1Hash.h"
#include "loomkit/io/BooleanIO.h"
#include "loomkit/io/FileSystem.h"
#include "loomkit/plist/DictNode.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/TestSupport.h"

using fotello::Album;
using fotello::AlbumData;
using fotello::Photo;
using fotello::Roll;
using fotello::test::digest;
using fotello::test::fileExists;
using fotello::test::LogCapture;
using fotello::test::photoWith;
using fotello::test::readFile;
using fotello::test::TempDir;
using fotello::test::writeFile;

namespace {

loomkit::Bytes serialised(const AlbumData& catalog) {
  return fotello::test::written([&](auto& out) { return catalog.writeToStream(out); });
}

std::unique_ptr<AlbumData> loaded(loomkit::Bytes bytes, loomkit::Error* error = nullptr) {
  return AlbumData::newFromData(std::make_shared<const loomkit::Bytes>(std::move(bytes)), error);
}

std::string hex(const loomkit::Bytes& bytes) {
  std::string out;
  for (uint8_t b : bytes) out += loomkit::strprintf("%s%02x", out.empty() ? "" : " ", b);
  return out;
}

Album album(int32_t id, const char* name, std::initializer_list<const char*> keys) {
  Album a;
  a.setInteger(id, "AlbumId");
  a.setString(name, "AlbumName");
  for (const char* key : keys) a.addPhotoKey(key);
  return a;
}

Roll roll(int32_t id, int32_t count) {
  loomkit::DictNode dict;
  dict.putInt(id, "RollID");
  dict.putString("Roll " + std::to_string(id), "RollName");
  dict.putDouble(5000.0, "RollDateAsTimerInterval");
  dict.putInt(count, "PhotoCount");
  return Roll(dict);
}

std::vector<std::string> keysOf(const std::vector<Photo>& photos) {
  std::vector<std::string> keys;
  for (const Photo& p : photos) keys.emplace_back(p.iPhotoKey().value_or("(null)"));
  return keys;
}

std::vector<std::string> keysOf(const AlbumData::PhotoList& photos) {
  std::vector<std::string> keys;
  for (const Photo* p : photos) keys.emplace_back(p->iPhotoKey().value_or("(null)"));
  return keys;
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  while (const dirent* e = d ? ::readdir(d) : nullptr) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  if (d) ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

void setMtime(const std::string& path, time_t seconds) {
  timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

time_t mtimeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mtim.tv_sec;
}

// A catalog with something of everything: two photos (one edited), an album and a roll.
std::unique_ptr<AlbumData> smallCatalog(std::optional<std::string> library, std::optional<double> scanDate) {
  std::vector<Photo> photos;
  photos.push_back(photoWith("9", digest('a'), std::nullopt, "/lib/Originals/9.jpg"));
  photos.push_back(photoWith("10", digest('b'), digest('c'), "/lib/Modified/10.jpg", "/lib/Originals/10.jpg"));
  return std::make_unique<AlbumData>(std::move(library), std::move(photos),
                                     std::vector<Album>{album(1, "Trip", {"9", "10"})}, std::vector<Roll>{roll(7, 2)},
                                     scanDate);
}

class AlbumDataFilesTest : public ::testing::Test {
 protected:
  TempDir home_;
  TempDir library_;
  fotello::test::ScopedEnv env_{"FOTELLO_HOME", home_.path()};
  std::string cache_ = AlbumData::cachePathForIPhotoLibraryPath(library_.path());
  std::string dir_ = loomkit::FileSystem::parentPath(cache_);

  std::unique_ptr<AlbumData> catalog(std::optional<double> scanDate) {
    return smallCatalog(library_.path(), scanDate);
  }
};

}  // namespace

TEST(AlbumDataTest, EmptyCatalogIs29BytesAndTheScanDateTailIsWholeSeconds) {
  AlbumData empty;
  EXPECT_EQ(hex(serialised(empty)),
            "00 00 00 05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01");
  EXPECT_EQ(empty.sha1(), std::nullopt) << "no digest without a scan date";

  AlbumData dated(std::nullopt, {}, {}, {}, 100.7);  // 2001-01-01 00:01:40.7 UTC
  const loomkit::Bytes bytes = serialised(dated);
  ASSERT_EQ(bytes.size(), 29u + 8u);
  EXPECT_EQ(hex(loomkit::Bytes(bytes.begin() + 28, bytes.end())), "00 00 00 00 00 00 00 00 64");
  std::unique_ptr<AlbumData> back = loaded(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->scanDate(), 100.0);
  EXPECT_EQ(back->sha1(), loomkit::SHA1Hash::hashData(bytes));
}

TEST(AlbumDataTest, OriginalsThatAreAnotherPhotosEditAreDropped) {
  LogCapture log(loomkit::Log::kDebug);
  std::vector<Photo> photos;
  photos.push_back(photoWith("1", digest('a'), digest('b'), "/m/1.jpg", "/o/1.jpg"));
  photos.push_back(photoWith("2", digest('b'), std::nullopt, "/o/2.jpg"));  // the edit of photo 1, imported again
  photos.push_back(photoWith("3", digest('c'), digest('c'), "/m/3.jpg", "/o/3.jpg"));  // edit kept the digest
  photos.push_back(photoWith("4", std::nullopt, std::nullopt, "/o/4.jpg"));
  AlbumData catalog(std::nullopt, std::move(photos), {}, {}, std::nullopt);

  EXPECT_EQ(keysOf(catalog.allPhotos()), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(keysOf(catalog.allPhotosForSHA1(digest('b'))), std::vector<std::string>{"1"});
  EXPECT_EQ(keysOf(catalog.allPhotosForSHA1(digest('c'))), std::vector<std::string>{"3"}) << "listed once";
  EXPECT_EQ(catalog.photoArraysBySHA1().size(), 3u);
  EXPECT_EQ(catalog.originalPhotoSHA1s(), AlbumData::SHA1Set({digest('a'), digest('c')}));
  EXPECT_EQ(catalog.originalPhotoSHA1Count(), 2u);
  EXPECT_EQ(catalog.modifiedPhotoSHA1s(), AlbumData::SHA1Set({digest('b'), digest('c')}));
  EXPECT_EQ(log.count("originalSHA1 matches the modifiedSHA1 of another photo; dropping it"), 1u);
  EXPECT_EQ(catalog.description(), "<AlbumData: 2 photos 0 albums 0 rolls>");
}

TEST(AlbumDataTest, PhotosSharingADigestAreListedByKeyNumber) {
  LogCapture log(loomkit::Log::kDebug);
  std::vector<Photo> photos;
  for (const char* key : {"20", "3", "100"}) photos.push_back(photoWith(key, digest('d'), std::nullopt, "/x.jpg"));
  AlbumData catalog(std::nullopt, std::move(photos), {}, {}, 1.0);
  EXPECT_EQ(keysOf(catalog.allPhotosForSHA1(digest('d'))), (std::vector<std::string>{"3", "20", "100"}));
  EXPECT_EQ(catalog.photoForSHA1(digest('d'))->iPhotoKey(), "3");
  EXPECT_EQ(catalog.photoForSHA1(digest('e')), nullptr);
  EXPECT_EQ(log.count("originalSHA1 is duplicate of"), 2u);
  EXPECT_EQ(keysOf(catalog.allPhotos()), (std::vector<std::string>{"100", "20", "3"})) << "written by key text";

  std::unique_ptr<AlbumData> back = loaded(serialised(catalog));
  ASSERT_TRUE(back);
  EXPECT_EQ(keysOf(back->allPhotosForSHA1(digest('d'))), (std::vector<std::string>{"3", "20", "100"}));
  EXPECT_TRUE(back->isEqualToAlbumData(catalog));
}

TEST(AlbumDataTest, RecordsAreWrittenInKeyTextAndIdOrder) {
  std::vector<Photo> photos;
  char sha1 = 'a';
  for (const char* key : {"9", "100", "10"}) photos.push_back(photoWith(key, digest(sha1++), std::nullopt, "/p"));
  std::vector<Album> albums = {album(5, "Five", {"9"}), album(2, "Two", {"10"}), album(5, "Five again", {"100"})};
  AlbumData catalog(std::nullopt, std::move(photos), std::move(albums), {roll(8, 1), roll(-1, 2)}, 10.0);
  EXPECT_EQ(keysOf(catalog.allPhotos()), (std::vector<std::string>{"10", "100", "9"}));

  std::unique_ptr<AlbumData> back = loaded(serialised(catalog));
  ASSERT_TRUE(back);
  EXPECT_EQ(keysOf(back->allPhotos()), (std::vector<std::string>{"10", "100", "9"}));
  ASSERT_EQ(back->albumsByIPhotoId().size(), 2u);
  EXPECT_EQ(back->albumsByIPhotoId().at(5).name(), "Five again") << "a later album replaces an earlier one";
  EXPECT_EQ(back->albumsByIPhotoId().begin()->first, 2);
  ASSERT_EQ(back->rollsByIPhotoId().size(), 2u);
  EXPECT_EQ(back->rollsByIPhotoId().begin()->first, -1);
  EXPECT_EQ(back->rollsByIPhotoId().at(8).photoCount(), 1);
  EXPECT_EQ(serialised(*back), serialised(catalog));
}

TEST(AlbumDataTest, RollsHaveNoValueEquality) {
  std::unique_ptr<AlbumData> a = smallCatalog(std::nullopt, 5.0);
  EXPECT_TRUE(a->isEqualToAlbumData(*a));
  std::unique_ptr<AlbumData> withRolls = loaded(serialised(*a));
  ASSERT_TRUE(withRolls);
  EXPECT_FALSE(withRolls->isEqualToAlbumData(*a));

  auto withoutRolls = [](const char* albumName) {
    std::vector<Photo> photos = {photoWith("1", digest('a'), std::nullopt, "/p")};
    return std::make_unique<AlbumData>(std::nullopt, std::move(photos), std::vector<Album>{album(1, albumName, {"1"})},
                                       std::vector<Roll>{}, std::nullopt);
  };
  EXPECT_TRUE(withoutRolls("A")->isEqualToAlbumData(*withoutRolls("A")));
  EXPECT_FALSE(withoutRolls("A")->isEqualToAlbumData(*withoutRolls("B")));
}

TEST(AlbumDataTest, EveryTruncationFailsToLoad) {
  const loomkit::Bytes bytes = serialised(*smallCatalog(std::nullopt, 77.0));
  for (size_t length = 0; length < bytes.size(); ++length) {
    loomkit::Error error;
    EXPECT_FALSE(loaded(loomkit::Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length)), &error))
        << length;
    EXPECT_FALSE(error.empty()) << length;
  }
  std::unique_ptr<AlbumData> whole = loaded(bytes);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->photoCount(), 2u);
  EXPECT_EQ(whole->scanDate(), 77.0);
}

TEST(AlbumDataTest, OtherVersionsAreRejected) {
  loomkit::Bytes bytes = serialised(AlbumData());
  bytes[3] = 4;
  loomkit::Error error;
  EXPECT_FALSE(loaded(bytes, &error));
  EXPECT_EQ(error, loomkit::Error("AlbumDataErrorDomain", -1, "invalid AlbumData version 4; expected 5"));
}

TEST(AlbumDataTest, HostileCountsFailWithoutAllocatingForThem) {
  auto header = [](uint64_t photos) {
    loomkit::Bytes b;
    loomkit::IntegerIO::writeUInt32(5, b);
    loomkit::IntegerIO::writeUInt64(photos, b);
    return b;
  };
  auto withTail = [](loomkit::Bytes b, std::initializer_list<uint64_t> counts) {
    for (uint64_t c : counts) loomkit::IntegerIO::writeUInt64(c, b);
    return b;
  };
  loomkit::Bytes hugeString = header(1);
  loomkit::StringIO::write(digest('a'), hugeString);
  loomkit::BooleanIO::write(true, hugeString);
  loomkit::IntegerIO::writeUInt64(0x7fffffff, hugeString);  // a modified digest of 2 GiB, 3 bytes present
  hugeString.insert(hugeString.end(), {'a', 'b', 'c'});
  loomkit::Bytes absurdString = hugeString;
  absurdString[4 + 8 + 1 + 8 + 40 + 1 + 4] = 0x80;  // more than 2 GiB: refused before reading
  loomkit::Bytes hugeKeyList = withTail(header(0), {1});
  loomkit::StringIO::write(std::string_view("A"), hugeKeyList);
  loomkit::IntegerIO::writeInt32(1, hugeKeyList);
  loomkit::BooleanIO::write(false, hugeKeyList);
  loomkit::IntegerIO::writeUInt64(UINT64_MAX / 2, hugeKeyList);

  const struct {
    const char* name;
    loomkit::Bytes bytes;
    const char* domain;
  } cases[] = {
      {"photo count 2^32", header(uint64_t{1} << 32), "BufferedInputStreamErrorDomain"},
      {"photo count 2^64-1", header(UINT64_MAX), "BufferedInputStreamErrorDomain"},
      {"album count 2^40", withTail(header(0), {uint64_t{1} << 40}), "BufferedInputStreamErrorDomain"},
      {"roll count 2^62", withTail(header(0), {0, uint64_t{1} << 62}), "BufferedInputStreamErrorDomain"},
      {"album key count 2^63", hugeKeyList, "BufferedInputStreamErrorDomain"},
      {"string of 2 GiB", hugeString, "BufferedInputStreamErrorDomain"},
      {"string of more than 2 GiB", absurdString, "InputStreamErrorDomain"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    loomkit::Error error;
    EXPECT_FALSE(loaded(c.bytes, &error)) << c.name;
    EXPECT_EQ(error.domain(), c.domain) << c.name << ": " << error.text();

    writeFile(dir.file("c.dat"), std::string(c.bytes.begin(), c.bytes.end()));
    EXPECT_FALSE(AlbumData::newFromCacheFile(dir.file("c.dat"), "/lib", &error)) << c.name;
    auto in = fotello::test::over(c.bytes);
    EXPECT_FALSE(AlbumData::loadFromStream(*in, AlbumData::kUnknownLength, std::nullopt, &error)) << c.name;
  }
}

TEST(AlbumDataTest, DigestIsComputedOnceForAllThreads) {
  std::unique_ptr<AlbumData> catalog = smallCatalog(std::nullopt, 3.0);
  const std::string expected = loomkit::SHA1Hash::hashData(serialised(*catalog));
  std::vector<const std::optional<std::string>*> seen(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { seen[i] = &catalog->sha1(); });
  for (std::thread& t : threads) t.join();
  for (const auto* sha1 : seen) {
    ASSERT_EQ(sha1, seen[0]);
    EXPECT_EQ(*sha1, expected);
  }
}

TEST_F(AlbumDataFilesTest, MissingCacheIsAnEmptyCatalogAndSavedOneLoadsBack) {
  EXPECT_FALSE(AlbumData::existsForIPhotoLibraryPath(library_.path()));
  loomkit::Error error;
  std::unique_ptr<AlbumData> none = AlbumData::newFromCacheForIPhotoLibraryPath(library_.path(), &error);
  ASSERT_TRUE(none) << error.text();
  EXPECT_EQ(none->photoCount(), 0u);
  EXPECT_EQ(none->scanDate(), std::nullopt);
  EXPECT_TRUE(none->needsRescan());

  std::unique_ptr<AlbumData> saved = catalog(1000.0);
  ASSERT_TRUE(saved->save(&error)) << error.text();
  EXPECT_TRUE(AlbumData::existsForIPhotoLibraryPath(library_.path()));
  EXPECT_EQ(cache_, home_.path() + "/Data.noindex/datfiles" + library_.path() + "/albumData.dat");
  const std::string file = readFile(cache_);
  EXPECT_EQ(saved->sha1(), loomkit::SHA1Hash::hashData(file.data(), file.size())) << "the digest is the file's";
  std::unique_ptr<AlbumData> back = AlbumData::newFromCacheForIPhotoLibraryPath(library_.path(), &error);
  ASSERT_TRUE(back) << error.text();
  EXPECT_EQ(back->iPhotoLibraryPath(), library_.path());
  EXPECT_EQ(back->sha1(), saved->sha1());
  EXPECT_EQ(back->photoForSHA1(digest('c'))->iPhotoKey(), "10");
}

TEST_F(AlbumDataFilesTest, SavesRotateUpToThreeOlderCopies) {
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(catalog(std::nullopt)->save());
  EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"albumData.dat", "albumData.dat.0001", "albumData.dat.0002",
                                                     "albumData.dat.0003"}))
      << "incomplete saves leave the completion flag alone";
  ASSERT_TRUE(catalog(50.0)->save());
  EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"albumData.dat", "albumData.dat.0002", "albumData.dat.0003",
                                                     "albumData.dat.0004", "albumData.dat.complete"}));

  // Numbers past four digits still rotate by their value.
  for (const char* old : {"albumData.dat.0002", "albumData.dat.0003", "albumData.dat.0004"}) {
    ASSERT_EQ(::unlink((dir_ + "/" + old).c_str()), 0);
  }
  for (const char* old : {"albumData.dat.9998", "albumData.dat.9999", "albumData.dat.10000"}) {
    writeFile(dir_ + "/" + old, "old");
  }
  ASSERT_TRUE(catalog(50.0)->save());
  EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"albumData.dat", "albumData.dat.10000", "albumData.dat.10001",
                                                     "albumData.dat.9999", "albumData.dat.complete"}));
}

TEST_F(AlbumDataFilesTest, SaveFailures) {
  loomkit::Error error;
  EXPECT_FALSE(AlbumData().save(&error)) << "a peer's catalog has no library";

  ASSERT_TRUE(loomkit::FileSystem::ensureParentPathExistsForPath(dir_));
  writeFile(dir_, "a file where the directory belongs");
  EXPECT_FALSE(catalog(1.0)->save(&error));
  EXPECT_EQ(error.domain(), "FileErrorDomain");
}

TEST_F(AlbumDataFilesTest, RescanFollowsTheIndexAgainstTheCompleteCatalog) {
  const std::string index = library_.file("AlbumData.xml");
  writeFile(index, "<plist/>");
  std::unique_ptr<AlbumData> incomplete = catalog(std::nullopt);
  ASSERT_TRUE(incomplete->save());
  EXPECT_TRUE(incomplete->needsRescan()) << "no scan date";

  std::unique_ptr<AlbumData> complete = catalog(10.0);
  ASSERT_TRUE(complete->save());
  const time_t saved = mtimeOf(cache_);
  const struct {
    const char* name;
    time_t indexTime;
    bool needs;
  } cases[] = {{"index older", saved - 100, false}, {"same second", saved, false}, {"index touched later", saved + 5, true}};
  LogCapture log(loomkit::Log::kDebug);
  for (const auto& c : cases) {
    setMtime(index, c.indexTime);
    setMtime(cache_, saved);
    EXPECT_EQ(complete->needsRescan(), c.needs) << c.name;
  }
  EXPECT_TRUE(log.contains("AlbumXML does not need rescan"));
  EXPECT_TRUE(log.contains("AlbumXML needs rescan"));

  setMtime(index, saved - 100);
  ASSERT_EQ(::unlink(AlbumData::completeFlagPathForIPhotoLibraryPath(library_.path()).c_str()), 0);
  EXPECT_TRUE(complete->needsRescan()) << "no completion flag";
  ASSERT_TRUE(loomkit::FileSystem::touchFileAtPath(AlbumData::completeFlagPathForIPhotoLibraryPath(library_.path())));
  EXPECT_FALSE(complete->needsRescan());
  ASSERT_EQ(::unlink(index.c_str()), 0);
  EXPECT_TRUE(complete->needsRescan()) << "no index file";
}
