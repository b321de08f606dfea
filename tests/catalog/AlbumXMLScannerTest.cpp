#include "catalog/AlbumXMLScanner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "catalog/SHA1DatFile.h"
#include "loomkit/crypto/SHA1Hash.h"
#include "loomkit/io/FileSystem.h"
#include "tests/support/TestSupport.h"

using fotello::AlbumData;
using fotello::AlbumXMLScanner;
using fotello::Photo;
using fotello::test::LogCapture;
using fotello::test::TempDir;
using fotello::test::writeFile;
using loomkit::Error;

namespace {

// Answers the progress questions from a script (true once the script runs out) and records them.
class ScriptedDelegate final : public fotello::AlbumXMLScannerDelegate {
 public:
  explicit ScriptedDelegate(std::vector<bool> answers = {}) : answers_(std::move(answers)) {}
  bool albumXMLScannerShouldContinueWithCurrent(uint64_t current, uint64_t total) override {
    questions.emplace_back(current, total);
    return questions.size() > answers_.size() || answers_[questions.size() - 1];
  }
  std::vector<std::pair<uint64_t, uint64_t>> questions;

 private:
  std::vector<bool> answers_;
};

// A library of three photos: 1 (edited, roll 1), 2 (roll 2; its dictionary holds a date) and 3
// (roll 99, which the roll list lacks); a master album, the user album "Trip" (5) of 1 and 3, two
// rolls whose own key lists name a key no album has, and dates, data and a dictionary of
// dictionaries around the photo table.
class LibraryFixture {
 public:
  LibraryFixture() : home_("FOTELLO_HOME", data_.path()) {
    writeFile(file("Originals/1/a.jpg"), "original of photo one");
    writeFile(file("Modified/1-1.jpg"), "edited photo one");
    writeFile(file("Originals/2/b.jpg"), "photo two");
    writeFile(file("Originals/9/c.jpg"), "photo three");
    writeIndex(true);
  }

  const std::string& path() const { return library_.path(); }
  std::string file(const std::string& name) const { return library_.file(name); }

  void writeIndex(bool captionOnTwo) const {
    const std::string lib = path();
    writeFile(file("AlbumData.xml"), R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>Application Version</key><string>9.4.1</string>
	<key>Last Saved</key><date>2024-05-01T10:00:00Z</date>
	<key>Library Fingerprint</key><data>RdpmU2k+ObhM4FBZ4yHkyX2OmqQ=</data>
	<key>List of Albums</key>
	<array>
		<dict><key>AlbumId</key><integer>1</integer><key>AlbumName</key><string>Photos</string>
			<key>Master</key><true/><key>KeyList</key><array><string>1</string><string>2</string><string>3</string></array></dict>
		<dict><key>AlbumId</key><integer>5</integer><key>AlbumName</key><string>Trip</string>
			<key>KeyList</key><array><string>1</string><string>3</string></array></dict>
	</array>
	<key>List of Rolls</key>
	<array>
		<dict><key>RollID</key><integer>1</integer><key>RollName</key><string>Beach</string>
			<key>RollDateAsTimerInterval</key><real>3600</real><key>KeyPhotoKey</key><integer>1</integer>
			<key>PhotoCount</key><integer>1</integer><key>KeyList</key><array><string>1</string><string>7</string></array></dict>
		<dict><key>RollID</key><integer>2</integer><key>RollName</key><string>Town</string>
			<key>KeyList</key><array><string>2</string></array></dict>
	</array>
	<key>Master Image List</key>
	<dict>
		<key>1</key>
		<dict><key>Caption</key><string>A &amp; B</string><key>ImageType</key><string>JPEG</string>
			<key>ImagePath</key><string>)" + lib + R"(/Modified/1-1.jpg</string>
			<key>OriginalPath</key><string>)" + lib + R"(/Originals/1/a.jpg</string>
			<key>ThumbPath</key><string>)" + lib + R"(/Thumbnails/1.jpg</string>
			<key>Roll</key><integer>1</integer><key>Aspect Ratio</key><real>1.5</real>
			<key>DateAsTimerInterval</key><real>100</real></dict>
		<key>2</key>
		<dict>)" + (captionOnTwo ? "<key>Caption</key><string>B</string>" : "") + R"(
			<key>DateModified</key><date>2024-05-01T10:00:00Z</date>
			<key>ImagePath</key><string>)" + lib + R"(/Originals/2/b.jpg</string><key>Roll</key><integer>2</integer></dict>
		<key>3</key>
		<dict><key>ImagePath</key><string>)" + lib + R"(/Originals/9/c.jpg</string><key>Roll</key><integer>99</integer></dict>
	</dict>
	<key>List of Faces</key>
	<dict>
		<key>8</key><dict><key>ImagePath</key><string>)" + lib + R"(/Originals/2/b.jpg</string></dict>
	</dict>
</dict>
</plist>
)");
  }

  std::unique_ptr<AlbumData> scan(bool sax, const AlbumData* previous = nullptr, Error* error = nullptr,
                                  fotello::AlbumXMLScannerDelegate* delegate = nullptr) const {
    AlbumXMLScanner scanner(path());
    scanner.setDelegate(delegate);
    return scanner.scan(previous, sax, error);
  }

  std::string digestOf(const std::string& name) const { return *loomkit::SHA1Hash::hashPhoto(file(name)); }

 private:
  TempDir data_;
  TempDir library_;
  fotello::test::ScopedEnv home_;
};

std::map<std::string, const Photo*> byKey(const AlbumData& catalog) {
  std::map<std::string, const Photo*> photos;
  for (const Photo& photo : catalog.allPhotos()) photos[std::string(*photo.iPhotoKey())] = &photo;
  return photos;
}

std::set<std::string> keysOf(const fotello::Album& album) {
  return std::set<std::string>(album.photoKeys().begin(), album.photoKeys().end());
}

}  // namespace

TEST(AlbumXMLScannerTest, TheTwoReadersOnOneIndex) {
  LibraryFixture library;
  for (bool sax : {true, false}) {
    SCOPED_TRACE(sax ? "event reader" : "whole-document reader");
    LogCapture log(loomkit::Log::kDebug);
    Error error;
    std::unique_ptr<AlbumData> catalog = library.scan(sax, nullptr, &error);
    ASSERT_TRUE(catalog) << error.text();
    std::map<std::string, const Photo*> photos = byKey(*catalog);

    // The event reader keeps every photo of the photo table, and only of it, without roll ids;
    // the whole-document reader keeps the photos of known rolls, with their ids.
    std::set<std::string> keys;
    for (const auto& [key, photo] : photos) keys.insert(key);
    EXPECT_EQ(keys, (sax ? std::set<std::string>{"1", "2", "3"} : std::set<std::string>{"1", "2"}));
    ASSERT_TRUE(photos.count("1") && photos.count("2"));
    EXPECT_EQ(photos["1"]->rollId(), sax ? 0u : 1u);
    EXPECT_EQ(photos["2"]->rollId(), sax ? 0u : 2u);
    EXPECT_EQ(log.contains("skipping photo because it's not in a roll: <Photo: key=3 "), !sax);

    const Photo& one = *photos["1"];
    EXPECT_EQ(one.originalSHA1(), library.digestOf("Originals/1/a.jpg"));
    EXPECT_EQ(one.modifiedSHA1(), library.digestOf("Modified/1-1.jpg"));
    EXPECT_EQ(one.caption(), "A & B");
    EXPECT_EQ(one.aspectRatio(), 1.5);
    EXPECT_EQ(one.dateTaken(), 100.0);
    EXPECT_EQ(one.thumbPath(), library.file("Thumbnails/1.jpg"));
    EXPECT_EQ(photos["2"]->originalSHA1(), library.digestOf("Originals/2/b.jpg"));
    EXPECT_FALSE(photos["2"]->modifiedSHA1());

    // Master albums only on the whole-document path; a roll's key list adds nothing anywhere.
    const AlbumData::AlbumMap& albums = catalog->albumsByIPhotoId();
    EXPECT_EQ(albums.size(), sax ? 1u : 2u);
    ASSERT_TRUE(albums.count(5));
    EXPECT_EQ(albums.at(5).name(), "Trip");
    EXPECT_EQ(keysOf(albums.at(5)), (std::set<std::string>{"1", "3"}));
    if (!sax) {
      ASSERT_TRUE(albums.count(1));
      EXPECT_TRUE(albums.at(1).isMaster());
      EXPECT_EQ(keysOf(albums.at(1)), (std::set<std::string>{"1", "2", "3"}));
    }
    const AlbumData::RollMap& rolls = catalog->rollsByIPhotoId();
    EXPECT_EQ(rolls.size(), sax ? 0u : 2u);
    if (!sax) {
      ASSERT_TRUE(rolls.count(1));
      EXPECT_EQ(rolls.at(1).name(), "Beach");
      EXPECT_EQ(rolls.at(1).date(), 3600.0);
    }

    // The catalog on disk is the one returned, complete.
    std::unique_ptr<AlbumData> saved = AlbumData::newFromCacheForIPhotoLibraryPath(library.path(), &error);
    ASSERT_TRUE(saved) << error.text();
    EXPECT_EQ(saved->photoCount(), catalog->photoCount());
    EXPECT_TRUE(saved->scanDate());
    EXPECT_EQ(saved->sha1(), catalog->sha1());
  }
}

TEST(AlbumXMLScannerTest, RescanTakesOverThePreviousPhotos) {
  for (bool sax : {true, false}) {
    SCOPED_TRACE(sax ? "event reader" : "whole-document reader");
    LibraryFixture library;
    std::unique_ptr<AlbumData> first = library.scan(sax);
    ASSERT_TRUE(first);
    // The next index no longer gives photo 2 a caption: the previous value stays.
    library.writeIndex(false);
    LogCapture log(loomkit::Log::kDebug);
    std::unique_ptr<AlbumData> second = library.scan(sax, first.get());
    ASSERT_TRUE(second);
    EXPECT_FALSE(log.contains("re-hashing")) << "unchanged files are not hashed again";
    EXPECT_EQ(byKey(*second)["2"]->caption(), "B");
    EXPECT_EQ(second->originalPhotoSHA1s(), first->originalPhotoSHA1s());
  }
}

TEST(AlbumXMLScannerTest, AbortAtTheFirstQuestionWritesNoCatalog) {
  LibraryFixture library;
  ScriptedDelegate delegate({false});
  Error error;
  EXPECT_FALSE(library.scan(true, nullptr, &error, &delegate));
  EXPECT_TRUE(error.is(fotello::kAlbumSetErrorDomain, -7)) << error.text();
  EXPECT_EQ(error.description(), "abort requested");
  EXPECT_EQ(delegate.questions.size(), 1u);
  EXPECT_FALSE(AlbumData::existsForIPhotoLibraryPath(library.path()));
  EXPECT_FALSE(fotello::test::fileExists(fotello::SHA1DatFile::libraryDatFile(library.path()).path()));
}

TEST(AlbumXMLScannerTest, AnAbortKeepsTheLastIncompleteSave) {
  LibraryFixture library;
  ScriptedDelegate delegate({true, false});
  AlbumXMLScanner scanner(library.path());
  scanner.setDelegate(&delegate);
  scanner.setIncompleteSaveInterval(std::chrono::seconds(0));
  LogCapture log(loomkit::Log::kDebug);
  Error error;
  EXPECT_FALSE(scanner.scan(nullptr, true, &error));
  EXPECT_TRUE(error.is(fotello::kAlbumSetErrorDomain, -7)) << error.text();
  EXPECT_TRUE(log.contains("index = 1; saving albumset plist"));
  // The incomplete catalog holds the one photo hashed so far, has no scan date and is not
  // marked complete.
  std::unique_ptr<AlbumData> saved = AlbumData::newFromCacheForIPhotoLibraryPath(library.path(), &error);
  ASSERT_TRUE(saved) << error.text();
  EXPECT_EQ(saved->photoCount(), 1u);
  EXPECT_FALSE(saved->scanDate());
  EXPECT_FALSE(fotello::test::fileExists(AlbumData::completeFlagPathForIPhotoLibraryPath(library.path())));
}

TEST(AlbumXMLScannerTest, MissingIndexFailsBeforeParsing) {
  LibraryFixture library;
  std::remove(library.file("AlbumData.xml").c_str());
  for (bool sax : {true, false}) {
    LogCapture log(loomkit::Log::kDebug);
    ScriptedDelegate delegate;
    Error error;
    EXPECT_FALSE(library.scan(sax, nullptr, &error, &delegate));
    EXPECT_TRUE(error.is(fotello::kAlbumXMLScannerErrorDomain, -2)) << error.text();
    EXPECT_EQ(error.description(), library.file("AlbumData.xml") + " not found");
    EXPECT_FALSE(log.contains("parsing "));
    EXPECT_TRUE(delegate.questions.empty());
  }
}

TEST(AlbumXMLScannerTest, MalformedIndexIsAParseErrorAndNothingIsSaved) {
  LibraryFixture library;
  writeFile(library.file("AlbumData.xml"), "<plist>\n<dict><key>Master Image List</key><dict></array>");
  const struct {
    bool sax;
    int64_t code;
    std::string description;
  } cases[] = {
      // The event reader carries the XML parser's own code (7: mismatched tag).
      {true, 7, "Error parsing " + library.file("AlbumData.xml") + " at line 2 column 43: mismatched tag"},
      {false, -1, "XML parse error at line 2 column 43: mismatched tag"},
  };
  for (const auto& c : cases) {
    LogCapture log(loomkit::Log::kError);
    Error error;
    EXPECT_FALSE(library.scan(c.sax, nullptr, &error));
    EXPECT_TRUE(error.is(fotello::kAlbumXMLScannerErrorDomain, c.code)) << error.text();
    EXPECT_EQ(error.description(), c.description);
    EXPECT_TRUE(log.contains("parse error: " + c.description));
  }
  EXPECT_FALSE(AlbumData::existsForIPhotoLibraryPath(library.path()));
}

TEST(AlbumXMLScannerTest, DeletedOriginalIsLeftOutAndTheScanGoesOn) {
  LibraryFixture library;
  const std::string gone = library.file("Originals/2/b.jpg");
  std::remove(gone.c_str());
  for (bool sax : {true, false}) {
    LogCapture log(loomkit::Log::kWarn);
    ScriptedDelegate delegate;
    Error error;
    std::unique_ptr<AlbumData> catalog = library.scan(sax, nullptr, &error, &delegate);
    ASSERT_TRUE(catalog) << error.text();
    EXPECT_EQ(byKey(*catalog).count("2"), 0u);
    EXPECT_EQ(catalog->photoCount(), sax ? 2u : 1u);
    EXPECT_TRUE(log.contains("ignoring " + gone));
    EXPECT_TRUE(log.contains("error updating SHA1s for " + gone + ": " + gone + ": No such file or directory"));
    // The photo after the dropped one is asked about at the dropped one's place.
    using Q = std::vector<std::pair<uint64_t, uint64_t>>;
    EXPECT_EQ(delegate.questions, (sax ? Q{{0, 3}, {1, 3}, {1, 2}} : Q{{0, 2}, {1, 2}}));
  }
}

TEST(AlbumXMLScannerTest, LibraryDigestSetGainsTheCatalogsDigests) {
  LibraryFixture library;
  fotello::SHA1DatFile before = fotello::SHA1DatFile::libraryDatFile(library.path());
  const std::string earlier(40, 'e');
  before.addSHA1s({earlier});
  ASSERT_TRUE(loomkit::FileSystem::ensureParentPathExistsForPath(before.path()));
  ASSERT_TRUE(before.save());

  ASSERT_TRUE(library.scan(true));
  fotello::SHA1DatFile after = fotello::SHA1DatFile::libraryDatFile(library.path());
  ASSERT_TRUE(after.load());
  EXPECT_EQ(after.allSHA1s(), (fotello::SHA1DatFile::SHA1Set{earlier, library.digestOf("Originals/1/a.jpg"),
                                                             library.digestOf("Modified/1-1.jpg"),
                                                             library.digestOf("Originals/2/b.jpg"),
                                                             library.digestOf("Originals/9/c.jpg")}));
}
