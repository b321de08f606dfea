// The agent process keeping the catalog of a real photolib library: what it does with a saved
// catalog at start, and how it follows changes of the library index and of the library folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "catalog/AlbumData.h"
#include "protocol/AppConfig.h"
#include "tests/support/TestSupport.h"

using fotello::test::ChildProcess;
using namespace std::chrono_literals;

namespace {

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

class AgentCatalogTest : public ::testing::Test {
 protected:
  // A library indexed in place by photolib: clips of the given size (sparse, so that hashing
  // them takes time but no disk).
  void makeLibrary(int clips, off_t clipBytes) {
    std::filesystem::create_directories(library_);
    for (int i = 0; i < clips; ++i) {
      std::string clip = library_ + "/clip" + std::to_string(i) + ".mov";
      int fd = ::open(clip.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::ftruncate(fd, clipBytes), 0);
      // A distinct first byte gives every clip its own digest.
      char first = static_cast<char>('a' + i);
      ASSERT_EQ(::pwrite(fd, &first, 1, 0), 1);
      ::close(fd);
    }
    ASSERT_EQ(run({fotello::test::programPath("tools/photolib"), "index", library_}), 0);
    setIndexTime(time(nullptr) - 100, 0);
  }
  // The catalog the agent's own rescan would save, made by fotelloctl.
  void saveCompleteCatalog() { ASSERT_EQ(run({fotello::test::programPath("tools/fotelloctl"), "scan", library_}), 0); }

  int run(const std::vector<std::string>& argv) {
    ChildProcess child(argv, env());
    std::optional<int> status = child.wait(60s);
    EXPECT_TRUE(status) << argv[0] << " did not finish";
    EXPECT_EQ(status.value_or(-1), 0) << child.output();
    return status.value_or(-1);
  }

  std::map<std::string, std::string> env() const {
    return {{"FOTELLO_HOME", home_.path()},
            {"XDG_CONFIG_HOME", home_.file("xdg")},
            {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""}};
  }

  void setIndexTime(time_t seconds, long nanoseconds) {
    timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, index_.c_str(), times, 0), 0);
  }

  // Starts the agent on the library with debug logging.
  void startAgent() {
    {
      fotello::test::ScopedEnv home("FOTELLO_HOME", home_.path());
      fotello::AppConfig config;
      ASSERT_TRUE(config.loadWithCreateNew(true));
      config.setIPhotoLibraryPath(library_);
      config.setTzLogLevel(4);
    }
    agent_ = std::make_unique<ChildProcess>(std::vector<std::string>{fotello::test::programPath("agent/fotello-agent")},
                                            env());
  }
  // Waits until the output holds the text n times.
  bool waitForCount(const std::string& text, size_t n, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (count(agent_->output(), text) < n) {
      if (std::chrono::steady_clock::now() >= deadline || !agent_->running()) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  // The first pass is over and the cataloging thread waits again.
  bool waitForIdle() { return waitForCount("ScanThread entering wait", 2, 20s); }

  fotello::test::TempDir home_;
  std::string library_ = home_.file("Pictures/Library");
  std::string index_ = library_ + "/AlbumData.xml";
  std::unique_ptr<ChildProcess> agent_;
};

TEST_F(AgentCatalogTest, CompleteSavedCatalogIsUsedWithoutScanning) {
  makeLibrary(3, 4096);
  saveCompleteCatalog();
  startAgent();
  ASSERT_TRUE(waitForIdle()) << agent_->output();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(count(agent_->output(), "Cataloging photos in"), 0u) << agent_->output();
  EXPECT_EQ(count(agent_->output(), "ignoring incomplete albumData cache file"), 0u);
}

TEST_F(AgentCatalogTest, IncompleteSavedCatalogIsIgnoredAndTheLibraryScanned) {
  makeLibrary(3, 4096);
  {
    fotello::test::ScopedEnv home("FOTELLO_HOME", home_.path());
    ASSERT_TRUE(fotello::AlbumData(library_, {}, {}, {}, std::nullopt).save());
  }
  startAgent();
  ASSERT_TRUE(waitForCount("Finished cataloging photos in " + library_, 1, 30s)) << agent_->output();
  std::string out = agent_->output();
  EXPECT_NE(out.find("ignoring incomplete albumData cache file"), std::string::npos);
  EXPECT_NE(out.find("INFO [thread"), std::string::npos);
  EXPECT_NE(out.find("<AlbumData: 3 photos"), std::string::npos) << out;
}

TEST_F(AgentCatalogTest, IndexChangeDuringALongScanAbortsItAndScansAgain) {
  makeLibrary(24, 64 << 20);  // hashing 1.5 GB takes seconds
  startAgent();
  ASSERT_TRUE(waitForCount("updating SHA1s on 24 parsed photos", 1, 30s)) << agent_->output();
  setIndexTime(time(nullptr) + 5, 0);
  ASSERT_TRUE(waitForCount("scan thread did abort scan", 1, 20s)) << agent_->output();
  EXPECT_EQ(count(agent_->output(), "Finished cataloging photos in"), 0u) << agent_->output();
  // The next pass starts without another change and completes.
  ASSERT_TRUE(waitForCount("Finished cataloging photos in " + library_, 1, 60s)) << agent_->output();
  EXPECT_EQ(count(agent_->output(), "Cataloging photos in " + library_), 2u) << agent_->output();
}

TEST_F(AgentCatalogTest, RemovedLibraryFolderIsReportedAsFailure) {
  makeLibrary(2, 4096);
  saveCompleteCatalog();
  startAgent();
  ASSERT_TRUE(waitForIdle()) << agent_->output();
  auto removed = std::chrono::steady_clock::now();
  std::filesystem::remove_all(library_);
  ASSERT_TRUE(waitForCount("Cataloging error: " + index_ + " not found", 1, 10s)) << agent_->output();
  EXPECT_LT(std::chrono::steady_clock::now() - removed, 3s);
  EXPECT_TRUE(agent_->running());
}

TEST_F(AgentCatalogTest, TwoIndexChangesWithinOneSecondWakeOnce) {
  makeLibrary(2, 4096);
  saveCompleteCatalog();
  startAgent();
  ASSERT_TRUE(waitForIdle()) << agent_->output();
  time_t base = time(nullptr) + 10;
  setIndexTime(base, 100000000);
  setIndexTime(base, 600000000);
  ASSERT_TRUE(waitForCount("Finished cataloging photos in", 1, 20s)) << agent_->output();
  std::this_thread::sleep_for(1500ms);  // past the watch's coalescing
  EXPECT_EQ(count(agent_->output(), "AlbumData.xml changed"), 1u) << agent_->output();
  EXPECT_EQ(count(agent_->output(), "Cataloging photos in"), 1u);

  setIndexTime(base + 1, 0);
  EXPECT_TRUE(waitForCount("AlbumData.xml changed", 2, 5s)) << agent_->output();
}

}  // namespace
