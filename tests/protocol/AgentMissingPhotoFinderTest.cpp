#include "protocol/AgentMissingPhotoFinder.h"

#include <gtest/gtest.h>

#include "catalog/LibraryDataDirectory.h"
#include "catalog/SHA1DatFile.h"
#include "loomkit/io/FileSystem.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/TestSupport.h"

using fotello::AgentMissingPhotoFinder;
using fotello::AlbumData;
using fotello::Photo;
using fotello::SavedComputer;
using fotello::test::digest;

namespace {

const std::string kLibrary = "/home/ann/Pictures/Library";
constexpr double kDay = 86400;

struct Peer : fotello::RemoteComputer {
  explicit Peer(std::string uuid) : uuid_(std::move(uuid)) {}
  std::string uuid() const override { return uuid_; }
  std::string computerName() const override { return "Kitchen"; }
  std::shared_ptr<loomkit::NetService> netService() const override { return nullptr; }
  std::string uuid_;
};

// Hands out one catalog, or fails like a peer that cannot be reached.
struct FixedSource : fotello::PeerDataSource {
  std::shared_ptr<const AlbumData> albumData;
  std::vector<std::string> asked;
  std::shared_ptr<const AlbumData> albumDataFromRemoteComputer(const fotello::RemoteComputer& peer,
                                                               loomkit::Error* error) override {
    asked.push_back(peer.uuid());
    if (!albumData) loomkit::setError(error, "HTTPErrorDomain", -1, "connection refused");
    return albumData;
  }
  std::unique_ptr<fotello::IQVAgentStatus> statusFromRemoteComputer(const fotello::RemoteComputer&,
                                                                    loomkit::Error*) override {
    return nullptr;
  }
};

Photo photo(std::string_view key, char sha1, double dateTaken) {
  Photo p = fotello::test::photoWith(key, digest(sha1), std::nullopt);
  p.setReal(dateTaken, "DateAsTimerInterval");
  return p;
}

fotello::Album album(int32_t id, std::vector<std::string> keys) {
  fotello::Album a;
  a.setInteger(id, "AlbumId");
  a.setString("Album " + std::to_string(id), "AlbumName");
  for (auto& key : keys) a.addPhotoKey(key);
  return a;
}

std::vector<std::string> keysOf(const std::vector<const Photo*>& photos) {
  std::vector<std::string> keys;
  for (const Photo* p : photos) keys.emplace_back(p->iPhotoKey().value_or(""));
  return keys;
}

class AgentMissingPhotoFinderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(loomkit::FileSystem::ensureParentPathExistsForPath(
        fotello::LibraryDataDirectory::filePath(kLibrary, "x")));
    const double now = AgentMissingPhotoFinder::now();
    std::vector<fotello::Roll> rolls(1);
    source_.albumData = std::make_shared<AlbumData>(
        std::nullopt,
        std::vector<Photo>{photo("29", 'a', now - 29 * kDay), photo("31", 'b', now - 31 * kDay),
                           photo("40", 'c', now - 40 * kDay), photo("400", 'd', now - 400 * kDay),
                           photo("here", 'e', now - 1 * kDay)},
        std::vector<fotello::Album>{album(5, {"31", "here"}), album(7, {"400"})}, rolls, 1.0);
    fotello::SHA1DatFile library = fotello::SHA1DatFile::libraryDatFile(kLibrary);
    library.addSHA1s({digest('e')});
    ASSERT_TRUE(library.save());
  }

  AgentMissingPhotoFinder finder(int32_t selection, std::set<int32_t> albums) {
    return AgentMissingPhotoFinder(kLibrary, std::make_shared<Peer>(kUuid),
                                   SavedComputer(kUuid, selection, std::move(albums)), source_);
  }

  const std::string kUuid = "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B";
  fotello::test::TempDir home_;
  fotello::test::ScopedEnv env_{"FOTELLO_HOME", home_.path()};
  FixedSource source_;
};

}  // namespace

TEST_F(AgentMissingPhotoFinderTest, TheSelectionFiltersTheWantedPhotosInTheirOrder) {
  struct Case {
    int32_t selection;
    std::set<int32_t> albums;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {0, {}, {"400", "40", "31", "29"}},
      {1, {5}, {"31"}},
      {1, {}, {}},
      {1, {6}, {}},  // no such album
      {2, {}, {"29"}},
      {2, {5}, {"31", "29"}},
      {3, {}, {"40", "31", "29"}},
      {6, {7}, {"400", "40", "31", "29"}},
      {9, {5}, {"31"}},
      {-1, {}, {}},
  };
  for (const Case& c : cases) {
    auto f = finder(c.selection, c.albums);
    loomkit::Error error;
    auto wanted = f.sortedWantedRemotePhotos(&error);
    ASSERT_TRUE(wanted) << error.text();
    EXPECT_EQ(keysOf(*wanted), c.keys) << "selection " << c.selection << " with " << c.albums.size() << " albums";
  }
  EXPECT_EQ(source_.asked.size(), std::size(cases));
  EXPECT_EQ(source_.asked[0], kUuid);
}

TEST_F(AgentMissingPhotoFinderTest, ThePeriodEndsStrictlyAtItsLength) {
  auto f = finder(2, {});
  ASSERT_TRUE(f.sortedWantedRemotePhotos());
  const double now = 1000 * kDay;
  Photo edge = photo("edge", 'f', now - 30 * kDay);
  EXPECT_FALSE(f.photoMatchesCriteria(edge, now));
  EXPECT_TRUE(f.photoMatchesCriteria(edge, now - 1));
  EXPECT_EQ(f.rollsByIPhotoId().size(), 1u);
}

TEST_F(AgentMissingPhotoFinderTest, AFailedFetchOrSetFileFailsTheComputation) {
  auto albumData = source_.albumData;
  source_.albumData = nullptr;
  auto f = finder(0, {});
  loomkit::Error error;
  EXPECT_FALSE(f.sortedWantedRemotePhotos(&error));
  EXPECT_EQ(error.description(), "connection refused");
  EXPECT_TRUE(f.rollsByIPhotoId().empty());

  source_.albumData = albumData;
  const std::string received = fotello::LibraryDataDirectory::filePath(kLibrary, "received_sha1s.dat");
  ASSERT_TRUE(loomkit::FileSystem::ensureParentPathExistsForPath(received + "/x"));  // a folder in its place
  EXPECT_FALSE(finder(0, {}).sortedWantedRemotePhotos(&error));
  EXPECT_EQ(error.domain(), "UnixErrorDomain");
}
