// fotelloctl auto: the saved peer records, written as the desktop application writes them.
#include <gtest/gtest.h>

#include "protocol/SyncComputerRecord.h"
#include "tests/support/TestSupport.h"

using fotello::SyncComputerRecord;
using namespace std::chrono_literals;

namespace {

const std::string kKitchen = "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B";

class AutoCommandTest : public ::testing::Test {
 protected:
  struct Result {
    int status;
    std::string output;
  };
  Result run(std::vector<std::string> args) {
    args.insert(args.begin(), {fotello::test::programPath("tools/fotelloctl"), "auto"});
    fotello::test::ChildProcess child(args, {{"FOTELLO_HOME", home_.path()}});
    auto status = child.wait(10s);
    return {status.value_or(-1), child.output()};
  }
  std::optional<SyncComputerRecord> saved(const std::string& uuid) {
    return SyncComputerRecord::initFromFile(*SyncComputerRecord::pathForUUID(uuid));
  }

  fotello::test::TempDir home_;
  fotello::test::ScopedEnv fotelloHome_{"FOTELLO_HOME", home_.path()};
};

}  // namespace

TEST_F(AutoCommandTest, AddsListsChangesAndRemovesAPeerGivenByIdentifier) {
  Result r = run({"list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "no automatic peers\n");

  std::string lower = kKitchen;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  r = run({"add", lower, "--selection", "3", "--album", "9", "--album", "5"});  // stored in upper case
  ASSERT_EQ(r.status, 0) << r.output;
  auto record = saved(kKitchen);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->uuid(), kKitchen);
  EXPECT_TRUE(record->automatic());
  EXPECT_EQ(record->autoImportSelectionIndex(), 3);
  EXPECT_EQ(record->checkedAlbumIPhotoIds(), std::set<int32_t>({5, 9}));
  EXPECT_FALSE(record->computerName());

  // A record the desktop application wrote keeps its name, user and albums when only the
  // selection changes.
  record->setComputerName("Kitchen");
  record->setUserName("ann");
  ASSERT_TRUE(record->saveToFile());
  r = run({"add", kKitchen, "--selection", "0"});
  ASSERT_EQ(r.status, 0) << r.output;
  record = saved(kKitchen);
  EXPECT_EQ(record->autoImportSelectionIndex(), 0);
  EXPECT_EQ(record->checkedAlbumIPhotoIds(), std::set<int32_t>({5, 9}));
  EXPECT_EQ(record->computerName(), "Kitchen");

  r = run({"list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, kKitchen + "  Kitchen  user ann  selection 0 (all photos)  albums 5,9\n");

  r = run({"remove", "kitchen"});  // by its name, in any case
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_FALSE(fotello::test::fileExists(*SyncComputerRecord::pathForUUID(kKitchen)));
  r = run({"remove", kKitchen});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("no automatic peer " + kKitchen), std::string::npos) << r.output;
}

TEST_F(AutoCommandTest, RefusesBadArguments) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"add", kKitchen, "--selection", "7"},
           {"add", kKitchen, "--selection", "x"},
           {"add", kKitchen, "--album", "4294967296"},
           {"add", kKitchen, "--album"},
           {"add"},
           {"remove"},
           {"frobnicate"}}) {
    Result r = run(args);
    EXPECT_EQ(r.status, 2) << args[0] << " " << (args.size() > 2 ? args[2] : "") << ": " << r.output;
  }
  EXPECT_FALSE(fotello::test::fileExists(SyncComputerRecord::configuredSyncComputersDir()));
}
