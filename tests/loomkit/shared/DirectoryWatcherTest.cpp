#include "loomkit/shared/DirectoryWatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "loomkit/shared/PollMainLoop.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;

class DirectoryWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { loomkit::MainLoop::setMain(&loop_); }
  void TearDown() override { loomkit::MainLoop::setMain(nullptr); }
  loomkit::PollMainLoop loop_;
  fotello::test::TempDir dir_;
};

TEST_F(DirectoryWatcherTest, FirstChangeAtOnceThenOneDeliveryPerLatency) {
  std::vector<std::vector<std::string>> deliveries;
  std::vector<std::chrono::steady_clock::time_point> times;
  loomkit::DirectoryWatcher watcher(dir_.path(), 300ms, [&](const std::vector<std::string>& paths) {
    deliveries.push_back(paths);
    times.push_back(std::chrono::steady_clock::now());
  });
  ASSERT_TRUE(watcher.start());

  auto begin = std::chrono::steady_clock::now();
  fotello::test::writeFile(dir_.file("a.plist"), "1");
  ASSERT_TRUE(loop_.runUntil([&] { return deliveries.size() == 1; }, 2s));
  EXPECT_LT(times[0] - begin, 200ms);  // not deferred
  EXPECT_EQ(deliveries[0], std::vector<std::string>{dir_.file("a.plist")});

  // A burst right after: gathered into one delivery at the end of the latency.
  fotello::test::writeFile(dir_.file("b"), "2");
  fotello::test::writeFile(dir_.file("c"), "3");
  fotello::test::writeFile(dir_.file("b"), "4");
  ASSERT_TRUE(loop_.runUntil([&] { return deliveries.size() == 2; }, 2s));
  // (The tail of the first file's own events may ride along.)
  std::vector<std::string> second = deliveries[1];
  std::erase(second, dir_.file("a.plist"));
  EXPECT_EQ(second, (std::vector<std::string>{dir_.file("b"), dir_.file("c")}));
  EXPECT_GE(times[1] - times[0], 250ms);
  loop_.runUntil([] { return false; }, 400ms);
  EXPECT_EQ(deliveries.size(), 2u);
}

TEST_F(DirectoryWatcherTest, RenameOverAFileAndRemovalOfTheDirectoryAreReported) {
  std::string sub = dir_.file("lib");
  fotello::test::writeFile(sub + "/AlbumData.xml", "old");
  std::vector<std::string> seen;
  loomkit::DirectoryWatcher watcher(sub, 50ms, [&](const std::vector<std::string>& paths) {
    seen.insert(seen.end(), paths.begin(), paths.end());
  });
  ASSERT_TRUE(watcher.start());
  fotello::test::writeFile(sub + "/.tmp", "new");
  ASSERT_EQ(::rename((sub + "/.tmp").c_str(), (sub + "/AlbumData.xml").c_str()), 0);
  ASSERT_TRUE(loop_.runUntil([&] { return std::count(seen.begin(), seen.end(), sub + "/AlbumData.xml") > 0; }, 2s));
  ASSERT_EQ(std::system(("rm -rf '" + sub + "'").c_str()), 0);
  EXPECT_TRUE(loop_.runUntil([&] { return std::count(seen.begin(), seen.end(), sub) > 0; }, 2s));
}

TEST_F(DirectoryWatcherTest, MissingDirectoryFailsToStart) {
  loomkit::DirectoryWatcher watcher(dir_.file("missing"), 50ms, [](const std::vector<std::string>&) {});
  loomkit::Error error;
  EXPECT_FALSE(watcher.start(&error));
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ENOENT)) << error.text();
}
