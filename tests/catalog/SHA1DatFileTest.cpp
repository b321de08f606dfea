#include "catalog/SHA1DatFile.h"

#include <gtest/gtest.h>

#include "catalog/ReceivedDatFile.h"
#include "loomkit/io/FileSystem.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/TestSupport.h"

using fotello::ReceivedDatFile;
using fotello::SHA1DatFile;
using fotello::test::fileExists;
using fotello::test::readFile;
using fotello::test::TempDir;
using fotello::test::writeFile;

namespace {

const std::string kA = "00112233445566778899aabbccddeeff00112233";
const std::string kB = "ffeeddccbbaa99887766554433221100ffeeddcc";

// The 32-byte record of a digest text.
std::string record(const std::string& sha1) {
  std::string bytes;
  for (size_t i = 0; i < 40; i += 2) bytes += static_cast<char>(std::stoi(sha1.substr(i, 2), nullptr, 16));
  return bytes + std::string(12, '\0');
}

class SHA1DatFileTest : public ::testing::Test {
 protected:
  TempDir home_;
  fotello::test::ScopedEnv env_{"FOTELLO_HOME", home_.path()};
  std::string path_ = home_.file("set.dat");
};

}  // namespace

TEST_F(SHA1DatFileTest, WholeRecordsAreReadAndAPartialLastOneIgnored) {
  for (size_t tail : {0, 6, 31}) {
    writeFile(path_, record(kA) + record(kB) + std::string(tail, '\x7f'));
    SHA1DatFile file(path_);
    loomkit::Error error;
    ASSERT_TRUE(file.load(&error)) << tail << ": " << error.text();
    EXPECT_EQ(file.allSHA1s(), SHA1DatFile::SHA1Set({kA, kB})) << 64 + tail << " bytes";
  }
  SHA1DatFile missing(home_.file("none.dat"));
  EXPECT_TRUE(missing.load());
  EXPECT_TRUE(missing.allSHA1s().empty());
}

TEST_F(SHA1DatFileTest, SaveRewritesTheSetAndKeepsOnlyRealDigests) {
  writeFile(path_, record(kA) + record(kB));
  SHA1DatFile file(path_);
  ASSERT_TRUE(file.load());
  ASSERT_TRUE(file.save());
  const std::string saved = readFile(path_);
  EXPECT_TRUE(saved == record(kA) + record(kB) || saved == record(kB) + record(kA));

  const std::string upper = "AABBCCDDEEFF00112233445566778899AABBCCDD";
  file.addSHA1s({upper, "abc", kA + "0", std::string(39, 'a'), std::string(38, 'a') + "zz"});
  ASSERT_TRUE(file.save());
  EXPECT_EQ(readFile(path_).size(), 3 * 32u) << "members that are not 40 hex characters are left out";
  SHA1DatFile back(path_);
  ASSERT_TRUE(back.load());
  EXPECT_EQ(back.allSHA1s(), SHA1DatFile::SHA1Set({kA, kB, "aabbccddeeff00112233445566778899aabbccdd"}));
}

TEST_F(SHA1DatFileTest, AnEmptySetWritesNothing) {
  writeFile(path_, record(kA));
  EXPECT_TRUE(SHA1DatFile(path_).save());
  EXPECT_EQ(readFile(path_), record(kA)) << "an existing file keeps its content";
  EXPECT_TRUE(SHA1DatFile(home_.file("new.dat")).save());
  EXPECT_FALSE(fileExists(home_.file("new.dat")));

  SHA1DatFile noDirectory(home_.file("missing/dir/set.dat"));
  noDirectory.addSHA1s({kA});
  loomkit::Error error;
  EXPECT_FALSE(noDirectory.save(&error));
  EXPECT_EQ(error.code(), ENOENT);
}

TEST_F(SHA1DatFileTest, LibraryFilesLieInTheLibrarysDataDirectory) {
  const std::string dir = home_.path() + "/Data.noindex/datfiles/Users/ann/Pictures/iPhoto Library/";
  EXPECT_EQ(SHA1DatFile::libraryDatFile("/Users/ann/Pictures/iPhoto Library").path(), dir + "library_sha1s.dat");
  EXPECT_EQ(SHA1DatFile::ignoredDatFile("/Users/ann/Pictures/iPhoto Library/").path(), dir + "ignored_sha1s.dat");
  EXPECT_EQ(ReceivedDatFile("/Users/ann/Pictures/iPhoto Library").datFilePath(), dir + "received_sha1s.dat");
  EXPECT_EQ(SHA1DatFile::libraryDatFile("/../../etc/./x").path(),
            home_.path() + "/Data.noindex/datfiles/etc/x/library_sha1s.dat")
      << "no library path leads outside the data directory";
}

TEST_F(SHA1DatFileTest, ReceivedFileAppendsOneRecordPerCall) {
  ReceivedDatFile received("/lib");
  const std::string path = received.datFilePath();
  std::optional<std::unordered_set<std::string>> none = received.allSHA1s();
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());

  loomkit::Error error;
  EXPECT_FALSE(received.appendSHA1("abc", &error)) << "no directory yet";
  ASSERT_TRUE(loomkit::FileSystem::ensureParentPathExistsForPath(path));
  EXPECT_FALSE(received.appendSHA1(kA.substr(1), &error));
  EXPECT_EQ(error, loomkit::Error("ReceivedDatFileErrorDomain", -1, "sha1 must be 20 bytes"));
  EXPECT_FALSE(fileExists(path)) << "a bad digest writes nothing";

  ASSERT_TRUE(received.appendSHA1(kA, &error)) << error.text();
  ASSERT_TRUE(received.appendSHA1(kA));
  ASSERT_TRUE(received.appendSHA1("FFEEDDCCBBAA99887766554433221100FFEEDDCC"));
  EXPECT_EQ(readFile(path), record(kA) + record(kA) + record(kB));
  writeFile(path, readFile(path) + "partial");  // another program's append in progress
  EXPECT_EQ(received.allSHA1s(), std::unordered_set<std::string>({kA, kB}));
}
