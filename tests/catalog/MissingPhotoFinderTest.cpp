#include "catalog/MissingPhotoFinder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "catalog/LibraryDataDirectory.h"
#include "catalog/ReceivedDatFile.h"
#include "catalog/SHA1DatFile.h"
#include "loomkit/io/FileSystem.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/TestSupport.h"

using fotello::AlbumData;
using fotello::MissingPhotoFinder;
using fotello::Photo;
using fotello::test::digest;
using fotello::test::photoWith;

namespace {

const std::string kLibrary = "/home/ann/Pictures/Library";

Photo photo(std::string_view key, std::optional<std::string> original, std::optional<std::string> modified,
            double dateTaken) {
  Photo p = photoWith(key, original, modified);
  p.setReal(dateTaken, "DateAsTimerInterval");
  return p;
}

std::vector<std::string> keysOf(const MissingPhotoFinder::PhotoList& photos) {
  std::vector<std::string> keys;
  for (const Photo* p : photos) keys.emplace_back(p->iPhotoKey().value_or(""));
  return keys;
}

class MissingPhotoFinderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(loomkit::FileSystem::ensureParentPathExistsForPath(
        fotello::LibraryDataDirectory::filePath(kLibrary, "x")));
  }

  void writeSet(fotello::SHA1DatFile file, const fotello::SHA1DatFile::SHA1Set& sha1s) {
    file.addSHA1s(sha1s);
    ASSERT_TRUE(file.save());
  }

  MissingPhotoFinder finder(std::vector<Photo> photos) {
    return MissingPhotoFinder(kLibrary, std::make_shared<AlbumData>(std::nullopt, std::move(photos),
                                                                    std::vector<fotello::Album>{},
                                                                    std::vector<fotello::Roll>{}, 1.0));
  }

  fotello::test::TempDir home_;
  fotello::test::ScopedEnv env_{"FOTELLO_HOME", home_.path()};
};

}  // namespace

TEST_F(MissingPhotoFinderTest, AnEmptyPeerCatalogWantsNothing) {
  loomkit::Error error;
  auto wanted = finder({}).sortedWantedRemotePhotos(false, &error);
  ASSERT_TRUE(wanted) << error.text();
  EXPECT_TRUE(wanted->empty());
}

TEST_F(MissingPhotoFinderTest, WantsWhatNoSetHoldsOncePerOriginalOldestFirst) {
  writeSet(fotello::SHA1DatFile::libraryDatFile(kLibrary), {digest('1')});
  writeSet(fotello::SHA1DatFile::ignoredDatFile(kLibrary), {digest('3')});
  ASSERT_TRUE(fotello::ReceivedDatFile(kLibrary).appendSHA1(digest('b')));

  auto peer = finder({
      photo("1", digest('1'), std::nullopt, 10),  // original already in the library
      photo("2", digest('2'), digest('b'), 20),   // new original, its edited version was received
      photo("3", digest('3'), std::nullopt, 30),  // ignored
      photo("4", digest('4'), std::nullopt, 400),
      photo("5", digest('5'), std::nullopt, 50),
      photo("6", digest('5'), std::nullopt, 60),  // the same original as 5
      photo("7", digest('7'), digest('8'), 5),    // edited, neither version here
  });

  struct Case {
    bool showIgnored;
    std::vector<std::string> keys;
  };
  for (const Case& c : {Case{false, {"7", "5", "4"}}, Case{true, {"7", "3", "5", "4"}}}) {
    loomkit::Error error;
    auto wanted = peer.sortedWantedRemotePhotos(c.showIgnored, &error);
    ASSERT_TRUE(wanted) << error.text();
    EXPECT_EQ(keysOf(*wanted), c.keys) << "show ignored " << c.showIgnored;
  }

  auto unwanted = peer.unwantedSHA1s(false);
  ASSERT_TRUE(unwanted);
  EXPECT_EQ(*unwanted, MissingPhotoFinder::SHA1Set({digest('1'), digest('3'), digest('b')}));
  EXPECT_EQ(*peer.unwantedSHA1s(true), MissingPhotoFinder::SHA1Set({digest('1'), digest('b')}));
}

TEST_F(MissingPhotoFinderTest, AnUnreadableSetFileFailsWithItsError) {
  // A missing set is an empty one (a library without photos has none); one that cannot be read
  // ends the computation.
  auto peer = finder({photo("1", digest('1'), std::nullopt, 10)});
  auto wanted = peer.sortedWantedRemotePhotos(false);
  ASSERT_TRUE(wanted);
  EXPECT_EQ(wanted->size(), 1u);

  for (const char* name : {"library_sha1s.dat", "ignored_sha1s.dat", "received_sha1s.dat"}) {
    const std::string path = fotello::LibraryDataDirectory::filePath(kLibrary, name);
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    loomkit::Error error;
    EXPECT_FALSE(peer.sortedWantedRemotePhotos(false, &error)) << name;
    EXPECT_EQ(error.domain(), "UnixErrorDomain") << name << ": " << error.text();
    EXPECT_FALSE(peer.unwantedSHA1s(false)) << name;
    ASSERT_EQ(::rmdir(path.c_str()), 0);
  }
}
