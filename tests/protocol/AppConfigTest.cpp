#include "protocol/AppConfig.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <thread>

#include "loomkit/shared/PollMainLoop.h"
#include "protocol/Defaults.h"
#include "protocol/FotelloApp.h"
#include "tests/support/TestSupport.h"

using fotello::AppConfig;
using fotello::test::readFile;
using fotello::test::writeFile;
using namespace std::chrono_literals;

namespace {

// A configuration file with the given body inside the root dictionary.
std::string configXML(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body + "</dict>\n</plist>\n";
}

const char* kFullBody =
    "<key>iPhotoLibraryPath</key><string>/photos/lib</string>\n"
    "<key>uuid</key><string>11111111-2222-3333-4444-555555555555</string>\n"
    "<key>tzLogLevel</key><integer>4</integer>\n"
    "<key>statusItemVisible</key><false/>\n"
    "<key>autoLaunchIPhoto</key><true/>\n"
    "<key>minFreeDiskSpaceGB</key><integer>25</integer>\n"
    "<key>passwordRequired</key><true/>\n"
    "<key>readTimeoutSeconds</key><integer>30</integer>\n"
    "<key>useSAXParser</key><true/>\n";

time_t modificationTime(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
}

class AppConfigTest : public ::testing::Test {
 protected:
  fotello::test::TempDir home_;
  fotello::test::ScopedEnv fotelloHome_{"FOTELLO_HOME", home_.path()};
  fotello::test::ScopedEnv xdgConfig_{"XDG_CONFIG_HOME", home_.file("xdg-config")};
  std::string path_ = home_.file("config/app_config.plist");
};

TEST_F(AppConfigTest, PathsFollowTheEnvironment) {
  EXPECT_EQ(AppConfig().appConfigPath(), path_);
  {
    fotello::test::ScopedEnv unset("FOTELLO_HOME", std::nullopt);
    fotello::test::ScopedEnv data("XDG_DATA_HOME", "/data");
    EXPECT_EQ(fotello::FotelloApp::applicationSupportPath(), "/data/Fotello");
    fotello::test::ScopedEnv noData("XDG_DATA_HOME", std::nullopt);
    fotello::test::ScopedEnv home("HOME", "/home/me");
    EXPECT_EQ(fotello::FotelloApp::applicationSupportPath(), "/home/me/.local/share/Fotello");
  }
  EXPECT_STREQ(fotello::FotelloApp::httpVersionString(), "2");
}

TEST_F(AppConfigTest, CreateNewWritesDefaultsInKeyOrderWithoutALibrary) {
  AppConfig config;
  ASSERT_TRUE(std::regex_match(config.uuid(),
                               std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")));
  loomkit::Error error;
  ASSERT_TRUE(config.loadWithCreateNew(true, &error)) << error.text();
  std::string text = readFile(path_);
  EXPECT_EQ(text.find("iPhotoLibraryPath"), std::string::npos);  // the tool's preference is unset
  const char* keys[] = {"uuid", "tzLogLevel", "statusItemVisible", "autoLaunchIPhoto", "minFreeDiskSpaceGB",
                        "passwordRequired", "readTimeoutSeconds", "useSAXParser"};
  size_t last = 0;
  for (const char* key : keys) {
    size_t at = text.find(std::string("<key>") + key + "</key>");
    ASSERT_NE(at, std::string::npos) << key;
    EXPECT_GT(at, last) << key;
    last = at;
  }
  AppConfig reread;
  ASSERT_TRUE(reread.loadWithCreateNew(false, &error));
  EXPECT_EQ(reread.uuid(), config.uuid());
  EXPECT_EQ(reread.tzLogLevel(), 3);
  EXPECT_TRUE(reread.statusItemVisible());
  EXPECT_EQ(reread.minFreeDiskSpaceGB(), 10);
  EXPECT_EQ(reread.readTimeoutSeconds(), 60);
  EXPECT_FALSE(reread.passwordRequired());
  EXPECT_FALSE(reread.useSAXParser());
}

TEST_F(AppConfigTest, MissingFileWithoutCreateNewFailsAndWritesNothing) {
  AppConfig config;
  loomkit::Error error;
  EXPECT_FALSE(config.loadWithCreateNew(false, &error));
  EXPECT_TRUE(error.is("AppConfigErrorDomain", -1));
  EXPECT_EQ(error.description(), path_ + " not found");
  EXPECT_FALSE(fotello::test::fileExists(path_));
}

TEST_F(AppConfigTest, LoadAppliesEveryKey) {
  writeFile(path_, configXML(kFullBody));
  AppConfig config;
  ASSERT_TRUE(config.loadWithCreateNew(false));
  EXPECT_EQ(config.iPhotoLibraryPath(), "/photos/lib");
  EXPECT_EQ(config.uuid(), "11111111-2222-3333-4444-555555555555");
  EXPECT_EQ(config.tzLogLevel(), 4);
  EXPECT_FALSE(config.statusItemVisible());
  EXPECT_TRUE(config.autoLaunchIPhoto());
  EXPECT_EQ(config.minFreeDiskSpaceGB(), 25);
  EXPECT_TRUE(config.passwordRequired());
  EXPECT_EQ(config.readTimeoutSeconds(), 30);
  EXPECT_TRUE(config.useSAXParser());
}

// Which missing keys make a load rewrite the file, and what the rewrite keeps.
TEST_F(AppConfigTest, MissingKeysAndRewrites) {
  struct Case {
    const char* removedKey;
    bool rewritten;
  } cases[] = {
      {"uuid", true}, {"readTimeoutSeconds", true}, {"useSAXParser", true},
      {"tzLogLevel", false}, {"minFreeDiskSpaceGB", false}, {"passwordRequired", false}, {nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.removedKey ? c.removedKey : "nothing removed");
    std::string body = kFullBody;
    if (c.removedKey) {
      body = std::regex_replace(body, std::regex(std::string("<key>") + c.removedKey + "</key>[^\n]*\n"), "");
    }
    writeFile(path_, configXML(body));
    std::string before = readFile(path_);
    AppConfig config;
    std::string generatedUuid = config.uuid();
    loomkit::Error error;
    ASSERT_TRUE(config.loadWithCreateNew(false, &error)) << error.text();
    std::string after = readFile(path_);
    EXPECT_EQ(after != before, c.rewritten);
    if (c.rewritten) {
      // The values read are kept, and every key is present again.
      EXPECT_NE(after.find("<string>/photos/lib</string>"), std::string::npos);
      EXPECT_NE(after.find("<key>readTimeoutSeconds</key>"), std::string::npos);
      EXPECT_NE(after.find("<key>useSAXParser</key>"), std::string::npos);
    }
    if (c.removedKey && std::string(c.removedKey) == "uuid") {
      // The identifier made at creation is written back, so every later load reads it.
      EXPECT_EQ(config.uuid(), generatedUuid);
      AppConfig later;
      ASSERT_TRUE(later.loadWithCreateNew(false));
      EXPECT_EQ(later.uuid(), generatedUuid);
    }
    if (c.removedKey && std::string(c.removedKey) == "tzLogLevel") {
      EXPECT_EQ(config.tzLogLevel(), 0);
    }
    if (c.removedKey && std::string(c.removedKey) == "minFreeDiskSpaceGB") {
      EXPECT_EQ(config.minFreeDiskSpaceGB(), 0);
    }
  }
}

TEST_F(AppConfigTest, ReloadingItsOwnFileCallsNoSetterAndWritesNothing) {
  AppConfig config;
  ASSERT_TRUE(config.loadWithCreateNew(true));
  auto mtime = modificationTime(path_);
  int notifications = 0;
  config.addObserver([&](AppConfig::Key) { ++notifications; });
  ASSERT_TRUE(config.loadWithCreateNew(false));
  EXPECT_EQ(notifications, 0);
  EXPECT_EQ(modificationTime(path_), mtime);
}

TEST_F(AppConfigTest, SetterNotifiesAndSavesWholeFileOnce) {
  AppConfig config;
  ASSERT_TRUE(config.loadWithCreateNew(true));
  std::vector<AppConfig::Key> seen;
  config.addObserver([&](AppConfig::Key key) { seen.push_back(key); });
  config.setPasswordRequired(true);
  EXPECT_EQ(seen, std::vector<AppConfig::Key>{AppConfig::Key::kPasswordRequired});
  AppConfig other;
  ASSERT_TRUE(other.loadWithCreateNew(false));
  EXPECT_TRUE(other.passwordRequired());
  EXPECT_EQ(other.uuid(), config.uuid());

  // The uuid alone is not saved.
  config.setUuid("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
  AppConfig third;
  ASSERT_TRUE(third.loadWithCreateNew(false));
  EXPECT_EQ(third.uuid(), other.uuid());
}

TEST_F(AppConfigTest, MalformedFileLeavesFieldsAlone) {
  writeFile(path_, "<plist version=\"1.0\"><dict><key>tzLogLevel</key><integer>5</integer>");
  AppConfig config;
  loomkit::Error error;
  EXPECT_FALSE(config.loadWithCreateNew(false, &error));
  EXPECT_EQ(config.tzLogLevel(), 3);
}

TEST_F(AppConfigTest, SaveFailureIsLoggedNotReported) {
  fotello::test::LogCapture capture(loomkit::Log::kError);
  writeFile(home_.file("config"), "a file where the directory should be");
  AppConfig config;
  config.setStatusItemVisible(false);
  EXPECT_TRUE(capture.contains("failed to save " + path_ + ": parent path"));
}

TEST_F(AppConfigTest, ChangeByAnotherProcessIsPickedUpByTheWatcher) {
  loomkit::PollMainLoop loop;
  loomkit::MainLoop::setMain(&loop);
  AppConfig config;
  ASSERT_TRUE(config.loadWithCreateNew(true));
  std::vector<AppConfig::Key> seen;
  config.addObserver([&](AppConfig::Key key) { seen.push_back(key); });
  config.monitorForChanges();

  // Another program rewrites the file (as the desktop application does) with one change.
  std::thread other([&] {
    AppConfig writer;
    ASSERT_TRUE(writer.loadWithCreateNew(false));
    writer.setTzLogLevel(5);
  });
  other.join();
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(loop.runUntil([&] { return config.tzLogLevel() == 5; }, 3s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  loop.runUntil([] { return false; }, 1200ms);  // let the rest of the burst arrive
  EXPECT_EQ(seen, std::vector<AppConfig::Key>{AppConfig::Key::kTzLogLevel});
  loomkit::MainLoop::setMain(nullptr);
}

TEST_F(AppConfigTest, DefaultLibraryComesFromThePhotoLibraryToolsPreference) {
  EXPECT_EQ(fotello::Defaults::iPhotoRootDirectory(), std::nullopt);
  writeFile(home_.file("xdg-config/photolib/preferences.plist"),
            configXML("<key>RootDirectory</key><string>~/Pictures/Library</string>\n"));
  fotello::test::ScopedEnv home("HOME", "/home/me");
  EXPECT_EQ(fotello::Defaults::iPhotoRootDirectory(), "/home/me/Pictures/Library");
  EXPECT_EQ(AppConfig().iPhotoLibraryPath(), "/home/me/Pictures/Library");
}

}  // namespace
