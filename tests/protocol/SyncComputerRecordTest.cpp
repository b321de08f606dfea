#include "protocol/SyncComputerRecord.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TestSupport.h"

using fotello::SyncComputerRecord;
using fotello::test::fileExists;
using fotello::test::readFile;
using fotello::test::writeFile;

namespace {

const std::string kUuid = "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B";

SyncComputerRecord record(const std::string& uuid = kUuid) {
  SyncComputerRecord r;
  r.setUuid(uuid);
  r.setComputerName("Kitchen");
  r.setUserName("ann");
  r.setAutomatic(true);
  r.setAutoImportSelectionIndex(3);
  r.setCheckedAlbumIPhotoIds({9, 5});
  return r;
}

std::string plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + body + "</dict></plist>\n";
}

class SyncComputerRecordTest : public ::testing::Test {
 protected:
  std::string dir() const { return SyncComputerRecord::configuredSyncComputersDir(); }
  std::string path(const std::string& uuid = kUuid) const { return *SyncComputerRecord::pathForUUID(uuid); }

  fotello::test::TempDir home_;
  fotello::test::ScopedEnv env_{"FOTELLO_HOME", home_.path()};
};

}  // namespace

TEST_F(SyncComputerRecordTest, SavesInKeyOrderAndLoadsBackEqual) {
  EXPECT_EQ(path(), home_.path() + "/synccomputers/" + kUuid + ".synccomputer");
  SyncComputerRecord saved = record();
  saved.setIconImage(std::make_shared<const loomkit::Bytes>(loomkit::Bytes{'I', 'I', '*', 0}));
  loomkit::Error error;
  ASSERT_TRUE(saved.saveToFile(&error)) << error.text();

  const std::string text = readFile(path());
  size_t at = 0;
  for (const char* key : {"dataVersion", "computerName", "uuid", "userName", "automatic", "autoImportSelectionIndex",
                          "checkedAlbumIds"}) {
    size_t found = text.find(std::string("<key>") + key + "</key>", at);
    ASSERT_NE(found, std::string::npos) << key << " missing or out of order in\n" << text;
    at = found;
  }
  EXPECT_NE(text.find("<integer>2</integer>"), std::string::npos);
  EXPECT_EQ(readFile(path() + ".iconImage"), std::string("II*\0", 4));

  auto loaded = SyncComputerRecord::initFromFile(path(), &error);
  ASSERT_TRUE(loaded) << error.text();
  EXPECT_EQ(loaded->uuid(), kUuid);
  EXPECT_EQ(loaded->computerName(), "Kitchen");
  EXPECT_EQ(loaded->userName(), "ann");
  EXPECT_TRUE(loaded->automatic());
  EXPECT_EQ(loaded->autoImportSelectionIndex(), 3);
  EXPECT_EQ(loaded->checkedAlbumIPhotoIds(), std::set<int32_t>({5, 9}));
  ASSERT_TRUE(loaded->iconImage());
  EXPECT_EQ(*loaded->iconImage(), *saved.iconImage());
  EXPECT_EQ(loaded->description(), "<SyncComputerRecord: path=" + path() + ">");

  // A later save without an icon keeps the old icon file.
  saved.setIconImage(nullptr);
  ASSERT_TRUE(saved.saveToFile());
  EXPECT_TRUE(fileExists(path() + ".iconImage"));
}

TEST_F(SyncComputerRecordTest, AbsentNamesAreLeftOutAndReadBackAbsent) {
  SyncComputerRecord saved;
  saved.setUuid(kUuid);
  ASSERT_TRUE(saved.saveToFile());
  const std::string text = readFile(path());
  EXPECT_EQ(text.find("computerName"), std::string::npos);
  EXPECT_EQ(text.find("userName"), std::string::npos);
  EXPECT_NE(text.find("<key>checkedAlbumIds</key>"), std::string::npos);
  auto loaded = SyncComputerRecord::initFromFile(path());
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(loaded->computerName());
  EXPECT_FALSE(loaded->userName());
  EXPECT_FALSE(loaded->automatic());
  EXPECT_TRUE(loaded->checkedAlbumIPhotoIds().empty());
  EXPECT_FALSE(loaded->iconImage());
}

TEST_F(SyncComputerRecordTest, OnlyVersionTwoLoads) {
  ::mkdir(dir().c_str(), 0700);
  struct Case {
    std::string body;
    std::string description;
  };
  for (const Case& c : {Case{"<key>dataVersion</key><integer>1</integer>", "invalid data version 1 (expected 2)"},
                        Case{"<key>uuid</key><string>" + kUuid + "</string>", "invalid data version 0 (expected 2)"},
                        Case{"<key>dataVersion</key><integer>3</integer>", "invalid data version 3 (expected 2)"}}) {
    writeFile(path(), plist(c.body));
    loomkit::Error error;
    EXPECT_FALSE(SyncComputerRecord::initFromFile(path(), &error));
    EXPECT_TRUE(error.is(SyncComputerRecord::errorDomain(), SyncComputerRecord::kInvalidDataVersion)) << error.text();
    EXPECT_EQ(error.description(), c.description);
  }
}

TEST_F(SyncComputerRecordTest, StoredRecordsSkipBrokenFilesWithOneErrorEach) {
  loomkit::Error error;
  auto none = SyncComputerRecord::storedRecords(&error);
  ASSERT_TRUE(none) << error.text();  // no directory yet
  EXPECT_TRUE(none->empty());

  ASSERT_TRUE(record().saveToFile());
  const std::string other = "11111111-2222-3333-4444-555555555555";
  writeFile(path(other), "<?xml version=\"1.0\"?><plist><dict><key>dataVersion</key>");  // cut short
  writeFile(path() + ".iconImage", "not a record");
  writeFile(dir() + "/.synccomputer", "");  // no identifier before the suffix
  ASSERT_EQ(::mkfifo((dir() + "/" + "22222222-2222-3333-4444-555555555555.synccomputer").c_str(), 0600), 0);

  fotello::test::LogCapture log(loomkit::Log::kError);
  auto records = SyncComputerRecord::storedRecords(&error);
  ASSERT_TRUE(records) << error.text();
  ASSERT_EQ(records->size(), 1u);
  EXPECT_EQ((*records)[0].uuid(), kUuid);
  EXPECT_EQ(log.count("ERROR"), 2u);  // the cut file and the FIFO, which must not block the reader
  EXPECT_EQ(log.count("error loading from " + path(other) + ": "), 1u);

  ASSERT_EQ(::chmod(dir().c_str(), 0), 0);
  if (::access(dir().c_str(), R_OK) != 0) {  // root reads anyway
    EXPECT_FALSE(SyncComputerRecord::storedRecords(&error));
    EXPECT_EQ(error.domain(), "UnixErrorDomain");
  }
  ::chmod(dir().c_str(), 0700);
}

TEST_F(SyncComputerRecordTest, AnUnreadableIconIsLoggedAndTheRecordStillLoads) {
  ASSERT_TRUE(record().saveToFile());
  ASSERT_EQ(::mkdir((path() + ".iconImage").c_str(), 0700), 0);
  fotello::test::LogCapture log(loomkit::Log::kError);
  auto loaded = SyncComputerRecord::initFromFile(path());
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(loaded->iconImage());
  EXPECT_TRUE(log.contains("error reading iconImage " + path() + ".iconImage: "));
}

TEST_F(SyncComputerRecordTest, DeleteRemovesBothFilesAndSucceedsWithoutThem) {
  loomkit::Error error;
  EXPECT_TRUE(SyncComputerRecord::deleteFileForUUID(kUuid, &error)) << error.text();  // nothing there
  SyncComputerRecord saved = record();
  saved.setIconImage(std::make_shared<const loomkit::Bytes>(loomkit::Bytes{1, 2}));
  ASSERT_TRUE(saved.saveToFile());
  ASSERT_TRUE(SyncComputerRecord::deleteFileForUUID(kUuid, &error)) << error.text();
  EXPECT_FALSE(fileExists(path()));
  EXPECT_FALSE(fileExists(path() + ".iconImage"));
}

TEST_F(SyncComputerRecordTest, OnlyAComputerIdentifierNamesAFile) {
  for (const std::string& uuid : std::vector<std::string>{"../../config/app_config", "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2/",
                                 "0B5D2F7A/1C3E-4D5F-9A8B-7C6D5E4F3A2B", "", "a/..", "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B0",
                                 std::string("0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2") + '\0'}) {
    EXPECT_FALSE(SyncComputerRecord::pathForUUID(uuid)) << uuid;
    fotello::test::LogCapture log(loomkit::Log::kError);
    loomkit::Error error;
    EXPECT_FALSE(record(uuid).saveToFile(&error)) << uuid;
    EXPECT_TRUE(error.is(SyncComputerRecord::errorDomain(), SyncComputerRecord::kInvalidIdentifier)) << error.text();
    EXPECT_FALSE(SyncComputerRecord::deleteFileForUUID(uuid)) << uuid;
    EXPECT_EQ(log.count("ERROR"), 2u) << uuid;
  }
  EXPECT_FALSE(fileExists(dir()));  // nothing was written anywhere
  EXPECT_TRUE(SyncComputerRecord::pathForUUID("0b5d2f7a-1c3e-4d5f-9a8b-7c6d5e4f3a2b"));
}
