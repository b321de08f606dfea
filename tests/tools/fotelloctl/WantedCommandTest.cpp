// fotelloctl wanted: the photos this computer would pull from a peer, against a peer at hand.
#include "tools/fotelloctl/WantedCommand.h"

#include <gtest/gtest.h>

#include "catalog/LibraryDataDirectory.h"
#include "catalog/SHA1DatFile.h"
#include "loomkit/io/FileSystem.h"
#include "protocol/SyncComputerRecord.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/TestSupport.h"

using fotello::WantedCommand;
using fotello::test::digest;
using namespace std::chrono_literals;

namespace {

const std::string kLibrary = "/home/ann/Pictures/Library";
const std::string kKitchen = "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B";

struct Peer : fotello::RemoteComputer {
  std::string uuid() const override { return ""; }
  std::string computerName() const override { return "10.0.0.7:17600"; }
  std::shared_ptr<loomkit::NetService> netService() const override { return nullptr; }
};

struct Source : fotello::PeerDataSource {
  std::shared_ptr<const fotello::AlbumData> albumData;
  bool statusFails = false;
  std::vector<std::string> albumDataAskedOf;

  std::shared_ptr<const fotello::AlbumData> albumDataFromRemoteComputer(const fotello::RemoteComputer& peer,
                                                                        loomkit::Error*) override {
    albumDataAskedOf.push_back(peer.uuid());
    return albumData;
  }
  std::unique_ptr<fotello::IQVAgentStatus> statusFromRemoteComputer(const fotello::RemoteComputer&,
                                                                    loomkit::Error* error) override {
    if (statusFails) {
      loomkit::setError(error, "HTTPErrorDomain", -1, "connection refused");
      return nullptr;
    }
    return std::make_unique<fotello::IQVAgentStatus>(std::nullopt, std::nullopt, std::nullopt, 0, 0, kKitchen,
                                                     "Kitchen\x1b[2J", "ann");
  }
};

fotello::Photo photo(std::string_view key, char sha1, double date) {
  fotello::Photo p = fotello::test::photoWith(key, digest(sha1), std::nullopt);
  p.setReal(date, "DateAsTimerInterval");
  return p;
}

class WantedCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fotello::Album album;
    album.setInteger(5, "AlbumId");
    album.addPhotoKey("2");
    album.addPhotoKey("3");
    source_.albumData = std::make_shared<fotello::AlbumData>(
        std::nullopt, std::vector<fotello::Photo>{photo("1", 'a', 100), photo("2", 'b', 300), photo("3", 'c', 200)},
        std::vector<fotello::Album>{album}, std::vector<fotello::Roll>{}, 1.0);
    ASSERT_TRUE(loomkit::FileSystem::ensureParentPathExistsForPath(
        fotello::LibraryDataDirectory::filePath(kLibrary, "x")));
    fotello::SHA1DatFile library = fotello::SHA1DatFile::libraryDatFile(kLibrary);
    library.addSHA1s({digest('c')});
    ASSERT_TRUE(library.save());
  }

  struct Result {
    int status;
    std::string output;
  };
  Result show(bool json) {
    std::FILE* out = std::tmpfile();
    int status = WantedCommand::show(source_, Peer(), kLibrary, json, out);
    std::string text;
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
    std::fclose(out);
    return {status, text};
  }

  fotello::test::TempDir home_;
  fotello::test::ScopedEnv env_{"FOTELLO_HOME", home_.path()};
  Source source_;
};

}  // namespace

TEST_F(WantedCommandTest, ListsWhatTheSavedSelectionPulls) {
  Result r = show(false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "Kitchen?[2J (" + kKitchen + ") is not an automatic peer: nothing would be pulled\n");
  EXPECT_TRUE(source_.albumDataAskedOf.empty());

  fotello::SyncComputerRecord record;
  record.setUuid(kKitchen);
  record.setAutoImportSelectionIndex(1);
  record.setCheckedAlbumIPhotoIds({5});
  ASSERT_TRUE(record.saveToFile());
  r = show(false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "Kitchen?[2J (" + kKitchen + "): selection 1 (checked albums only), albums 5\n"
                      "1 photo would be pulled\n"
                      "  2001-01-01 00:05:00 UTC  " + digest('b') + "  2  caption\n");
  EXPECT_EQ(source_.albumDataAskedOf, std::vector<std::string>{kKitchen});

  record.setAutoImportSelectionIndex(0);
  ASSERT_TRUE(record.saveToFile());
  r = show(true);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "{\"uuid\":\"" + kKitchen + "\",\"computerName\":\"Kitchen\\u001b[2J\",\"automatic\":true,"
                      "\"selection\":0,\"albums\":[5],\"photos\":[\n"
                      "{\"key\":\"1\",\"originalSHA1\":\"" + digest('a') + "\",\"modifiedSHA1\":null,"
                      "\"dateTaken\":100,\"caption\":\"caption\",\"rollId\":7},\n"
                      "{\"key\":\"2\",\"originalSHA1\":\"" + digest('b') + "\",\"modifiedSHA1\":null,"
                      "\"dateTaken\":300,\"caption\":\"caption\",\"rollId\":7}]}\n");
}

TEST_F(WantedCommandTest, FailsWhenThePeerOrItsCatalogCannotBeRead) {
  source_.statusFails = true;
  EXPECT_EQ(show(false).status, 1);
  source_.statusFails = false;
  fotello::SyncComputerRecord record;
  record.setUuid(kKitchen);
  ASSERT_TRUE(record.saveToFile());
  source_.albumData = nullptr;
  EXPECT_EQ(show(true).status, 1);
}

TEST_F(WantedCommandTest, TheCommandLineNeedsAnAddressAndAConfiguration) {
  for (const char* address : {"nohost", "10.0.0.7:", ":17600", "10.0.0.7:70000", "10.0.0.7:x"}) {
    fotello::test::ChildProcess child({fotello::test::programPath("tools/fotelloctl"), "wanted", address},
                                      {{"FOTELLO_HOME", home_.path()}});
    EXPECT_EQ(child.wait(10s), 2) << address << ": " << child.output();
  }
  fotello::test::ChildProcess child({fotello::test::programPath("tools/fotelloctl"), "wanted", "[::1]:17600"},
                                    {{"FOTELLO_HOME", home_.path()}});
  EXPECT_EQ(child.wait(10s), 1);
  EXPECT_NE(child.output().find("cannot read the configuration"), std::string::npos) << child.output();
}
