#include "protocol/IPhotoRelauncher.h"

#include <gtest/gtest.h>

#include "protocol/PhotolibApplication.h"
#include "tests/protocol/PhotolibRun.h"

using fotello::IPhotoRelauncher;
using fotello::PhotolibApplication;
using fotello::test::LogCapture;
using fotello::test::PrivatePhotolib;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// An application that refuses to quit, for the one failure photolib itself never gives.
class StubbornApplication final : public fotello::PhotoApplication {
 public:
  std::optional<std::string> currentLibraryPath() override { return "/other"; }
  std::optional<std::string> version(loomkit::Error*) override { return "9.0.0"; }
  bool isRunning() override { return true; }
  bool quit(loomkit::Error* error) override {
    return loomkit::setError(error, fotello::kPhotoApplicationErrorDomain, 3, "busy");
  }
  bool openLibrary(const std::string&, loomkit::Error*) override { return opened = true; }
  bool importFolder(const std::string&, bool, loomkit::Error*) override { return false; }
  bool opened = false;
};

}  // namespace

TEST(IPhotoRelauncherTest, SameLibraryDoesNothing) {
  PrivatePhotolib photolib("photolib-same");
  const std::string library = std::filesystem::canonical(photolib.library("Lib")).string();
  ASSERT_EQ(photolib.run({"open", library}), 0);
  LogCapture log;
  PhotolibApplication application;
  IPhotoRelauncher relauncher(library, application);
  auto start = Clock::now();
  loomkit::Error error;
  EXPECT_TRUE(relauncher.relaunchIfNecessary(&error)) << error.text();
  EXPECT_LT(secondsSince(start), 1.0);
  EXPECT_TRUE(log.contains("current iPhoto root directory " + library + "; our iPhotoLibraryPath is " + library));
  EXPECT_FALSE(log.contains("quitting iPhoto"));
  EXPECT_FALSE(log.contains("launching iPhoto"));
}

TEST(IPhotoRelauncherTest, NotRunningWithAnotherLibraryIsOpenedWithOursAfterOneSecond) {
  // Another library was open last, or none at all: both count as different.
  for (bool otherOpen : {true, false}) {
    SCOPED_TRACE(otherOpen ? "another library" : "no preference");
    PrivatePhotolib photolib("photolib-other");
    const std::string ours = std::filesystem::canonical(photolib.library("Ours")).string();
    if (otherOpen) {
      ASSERT_EQ(photolib.run({"open", photolib.library("Theirs")}), 0);
    }
    LogCapture log;
    PhotolibApplication application;
    IPhotoRelauncher relauncher(ours, application);
    auto start = Clock::now();
    loomkit::Error error;
    EXPECT_TRUE(relauncher.relaunchIfNecessary(&error)) << error.text();
    EXPECT_GE(secondsSince(start), 3.0) << "1 second before the launch and 2 after it";
    EXPECT_EQ(application.currentLibraryPath(), ours);
    EXPECT_FALSE(log.contains("quitting iPhoto"));
    EXPECT_TRUE(log.contains("waiting before launching iPhoto"));
    EXPECT_TRUE(log.contains("launching iPhoto with library " + ours));
  }
}

TEST(IPhotoRelauncherTest, AToolThatDoesNotEndFailsAfterTheBound) {
  // The "tool" is a copy of sleep under the tool's name, running for longer than the bound.
  fotello::test::TempDir dir;
  const std::string tool = dir.file("photolib-stuck");
  std::filesystem::copy_file("/bin/sleep", tool);
  fotello::test::ScopedEnv override("FOTELLO_PHOTOLIB", tool);
  fotello::test::ScopedEnv config("XDG_CONFIG_HOME", dir.file("config"));
  fotello::test::ChildProcess stuck({tool, "60"}, {});
  PhotolibApplication application;
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!application.isRunning() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(application.isRunning());

  LogCapture log;
  IPhotoRelauncher relauncher(dir.file("Lib"), application, std::chrono::seconds(2));
  auto start = Clock::now();
  loomkit::Error error;
  EXPECT_FALSE(relauncher.relaunchIfNecessary(&error));
  EXPECT_GT(secondsSince(start), 2.0);
  EXPECT_TRUE(error.is(fotello::kIPhotoRelauncherErrorDomain, -1)) << error.text();
  EXPECT_EQ(error.description(), "iPhoto failed to quit within 2.000000 seconds");
  EXPECT_TRUE(log.contains("quitting iPhoto"));
  EXPECT_GE(log.count("waiting for iPhoto to die"), 2u);
  EXPECT_FALSE(log.contains("launching iPhoto with library"));
  EXPECT_TRUE(stuck.running());
}

TEST(IPhotoRelauncherTest, RefusedQuitAndFailedOpenAreErrors) {
  LogCapture log;
  StubbornApplication stubborn;
  loomkit::Error error;
  EXPECT_FALSE(IPhotoRelauncher("/ours", stubborn).relaunchIfNecessary(&error));
  EXPECT_EQ(error.description(), "Error telling iPhoto to quit: code=3 description=busy");
  EXPECT_TRUE(log.contains("ERROR [thread"));
  EXPECT_FALSE(stubborn.opened);

  // photolib refuses to open a folder that is no library.
  PrivatePhotolib photolib("photolib-badopen");
  PhotolibApplication application;
  const std::string missing = photolib.file("NoLibrary");
  EXPECT_FALSE(IPhotoRelauncher(missing, application).relaunchIfNecessary(&error));
  EXPECT_TRUE(error.is(fotello::kIPhotoRelauncherErrorDomain, -1)) << error.text();
  EXPECT_EQ(error.description(), "failed to launch iPhoto with library " + missing);
}
