// The pull loop against scripted retrievers: which peer is pulled when, what is reported to the
// delegate, and how failures, restarts and removals change the to-do list.
#include "sync/PullThread.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <thread>

#include "loomkit/shared/PollMainLoop.h"
#include "tests/support/TestSupport.h"

// Scripts name only the fields that matter to a case.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace std::chrono_literals;
using fotello::AlbumData;
using fotello::AutoSyncComputer;
using fotello::PhotoRetriever;
using fotello::PhotoRetrieverRequest;
using fotello::PullThread;
using fotello::SavedComputer;
using fotello::test::LogCapture;
using loomkit::Error;

namespace {

using Strings = std::vector<std::string>;

struct StubService : loomkit::NetService {
  explicit StubService(const std::string& name) : NetService(name, "_fotello._tcp.", "local.") {}
  void resolveWithTimeout(std::chrono::milliseconds) override {}
  void startMonitoring() override {}
  void stop() override {}
};

AutoSyncComputer peer(const std::string& name) {
  return AutoSyncComputer(name + "-UUID", name, std::make_shared<StubService>(name));
}

// What one retriever does: photos wanted, where it fails, and a hook run before each photo (on
// the pull thread).
struct Script {
  uint64_t photos = 0;
  std::optional<Error> initError;
  std::optional<Error> pullError;  // at photo failIndex
  uint64_t failIndex = 0;
  std::optional<Error> importError;
  std::function<void(uint64_t index)> beforePull;
};

// Everything the retrievers did, in order: "init Kitchen", "pull Kitchen 0", "import Kitchen 2",
// "clean Kitchen". Written on the pull thread, read on the main thread.
struct Journal {
  mutable std::mutex mutex;
  Strings steps;
  std::vector<uint64_t> minimums;
  std::vector<PhotoRetrieverRequest> requests;

  void add(std::string step) {
    std::lock_guard lock(mutex);
    steps.push_back(std::move(step));
  }
  Strings inits() const {
    std::lock_guard lock(mutex);
    Strings out;
    for (const auto& s : steps) {
      if (s.rfind("init ", 0) == 0) out.push_back(s.substr(5));
    }
    return out;
  }
  Strings all() const {
    std::lock_guard lock(mutex);
    return steps;
  }
};

class ScriptedRetriever : public PhotoRetriever {
 public:
  ScriptedRetriever(PhotoRetrieverRequest request, Script script, Journal& journal)
      : request_(std::move(request)), script_(std::move(script)), journal_(journal) {}

  bool initialize(Error* error) override {
    journal_.add("init " + name());
    if (script_.initError) return loomkit::passError(error, *script_.initError);
    return true;
  }
  bool hasRemainingItems() const override { return next_ < script_.photos; }
  void setMinFreeDiskSpaceGB(uint64_t gigabytes) override {
    std::lock_guard lock(journal_.mutex);
    journal_.minimums.push_back(gigabytes);
  }
  bool pullNextItem(Error* error) override {
    uint64_t index = next_++;
    if (script_.beforePull) script_.beforePull(index);
    if (script_.pullError && index == script_.failIndex) return loomkit::passError(error, *script_.pullError);
    journal_.add("pull " + name() + " " + std::to_string(index));
    ++pulled_;
    request_.delegate->autoPhotoRetrieverPulled(index, script_.photos, request_.computer);
    return true;
  }
  uint64_t pulledPhotosCount() const override { return pulled_; }
  bool importItemsIntoIPhoto(Error* error) override {
    journal_.add("import " + name() + " " + std::to_string(pulled_));
    if (script_.importError) return loomkit::passError(error, *script_.importError);
    imported_ = pulled_;
    return true;
  }
  uint64_t itemsImportedCount() const override { return imported_; }
  void cleanUp() override { journal_.add("clean " + name()); }

 private:
  std::string name() const { return request_.computer.computerName(); }

  PhotoRetrieverRequest request_;
  Script script_;
  Journal& journal_;
  uint64_t next_ = 0;
  uint64_t pulled_ = 0;
  uint64_t imported_ = 0;
};

// The reports, as "will Kitchen", "pulled 0/3 Kitchen", "did Kitchen", "processed Kitchen=3 ...",
// "denied Kitchen", "error TEXT". Main thread only.
struct Reports : fotello::PullThreadDelegate {
  Strings all;
  void pullThreadWillProcessComputer(const std::string& name) override { all.push_back("will " + name); }
  void pullThreadPulled(uint64_t index, uint64_t total, const fotello::RemoteComputer& computer) override {
    EXPECT_TRUE(loomkit::MainLoop::main()->isMainThread());
    all.push_back("pulled " + std::to_string(index) + "/" + std::to_string(total) + " " + computer.computerName());
  }
  void pullThreadDidProcessComputer(const std::string& name) override { all.push_back("did " + name); }
  void pullThreadComputersWereProcessed(const std::map<std::string, uint64_t>& photos) override {
    std::string line = "processed";
    for (const auto& [name, count] : photos) line += " " + name + "=" + std::to_string(count);
    all.push_back(line);
  }
  void pullThreadAccessWasDeniedTo(const std::string& name) override { all.push_back("denied " + name); }
  void pullThreadError(const std::string& message) override { all.push_back("error " + message); }

  // Only the reports about outcomes: no progress.
  Strings outcomes() const {
    Strings out;
    for (const auto& line : all) {
      if (line.rfind("processed", 0) == 0 || line.rfind("denied", 0) == 0 || line.rfind("error", 0) == 0) {
        out.push_back(line);
      }
    }
    return out;
  }
  size_t count(const std::string& line) const { return std::count(all.begin(), all.end(), line); }
};

Error connectionRefused() { return Error(std::string(loomkit::kUnixErrorDomain), ECONNREFUSED, "Connection refused"); }
Error accessDenied() { return Error("HTTPErrorDomain", 403, "Forbidden"); }
Error endOfStream() { return Error("BufferedInputStreamErrorDomain", -4, "EOF on socket after 10 of 20 bytes received"); }

class PullThreadTest : public ::testing::Test {
 protected:
  PullThreadTest() : config_(home_.file("app_config.plist")) { makePull(); }
  ~PullThreadTest() override {
    pull_.reset();
    loomkit::MainLoop::setMain(nullptr);
  }

  // A fresh pull thread and records, for the next case of a table.
  void restart() {
    pull_.reset();
    makePull();
    reports_.all.clear();
    log_.clear();
    std::lock_guard lock(journal_.mutex);
    journal_.steps.clear();
    journal_.minimums.clear();
    journal_.requests.clear();
    scripts_.clear();
  }
  void makePull() {
    pull_ = std::make_unique<PullThread>(
        [this](const PhotoRetrieverRequest& request) -> std::unique_ptr<PhotoRetriever> {
          Script script;
          {
            std::lock_guard lock(journal_.mutex);
            journal_.requests.push_back(request);
            auto& queue = scripts_[request.computer.computerName()];
            if (!queue.empty()) {
              script = queue.front();
              queue.pop_front();
            }
          }
          return std::make_unique<ScriptedRetriever>(request, std::move(script), journal_);
        },
        PullThread::Timing{10ms, 30ms});
    pull_->setDelegate(&reports_);
    pull_->setAppConfig(&config_);
    pull_->setSavedComputerLookup([this](const std::string& uuid) -> std::optional<SavedComputer> {
      if (uuid == "Unsaved-UUID") return std::nullopt;
      return SavedComputer(uuid, 0, {});
    });
  }
  // The retrievers of a peer's next passes, in order; a peer without one has nothing to pull.
  void script(const std::string& name, std::vector<Script> scripts) {
    std::lock_guard lock(journal_.mutex);
    for (auto& s : scripts) scripts_[name].push_back(std::move(s));
  }
  void giveCatalog() { pull_->setLocalAlbumData(catalog_, "/photos/Library"); }
  bool runUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5s) {
    return loop_.runUntil(pred, timeout);
  }
  bool runUntilProcessedReports(size_t n) {
    return runUntil([&] {
      size_t seen = 0;
      for (const auto& line : reports_.all) seen += line.rfind("processed", 0) == 0;
      return seen >= n;
    });
  }
  // Runs fn on the main thread from a retriever's hook.
  void onMain(std::function<void()> fn) { loop_.performAndWait(std::move(fn)); }

  loomkit::PollMainLoop loop_;
  bool loopInstalled_ = (loomkit::MainLoop::setMain(&loop_), true);  // before the peers' services
  LogCapture log_{loomkit::Log::kDebug};
  fotello::test::TempDir home_;
  fotello::AppConfig config_;
  std::shared_ptr<const AlbumData> catalog_ = std::make_shared<AlbumData>("/photos/Library");
  Journal journal_;
  std::map<std::string, std::deque<Script>> scripts_;  // guarded by journal_.mutex
  Reports reports_;
  std::unique_ptr<PullThread> pull_;
  AutoSyncComputer kitchen_ = peer("Kitchen");
  AutoSyncComputer office_ = peer("Office");
  AutoSyncComputer den_ = peer("Den");
};

TEST_F(PullThreadTest, AQueuedPeerWaitsForTheFirstCatalog) {
  script("Kitchen", {Script{.photos = 2}});
  pull_->start();
  pull_->autoSyncComputerWasAdded(kitchen_);
  EXPECT_FALSE(runUntil([&] { return !journal_.inits().empty(); }, 200ms));
  EXPECT_TRUE(reports_.all.empty());
  EXPECT_EQ(log_.count("PullThread entering wait"), 1u);

  giveCatalog();
  ASSERT_TRUE(runUntilProcessedReports(1));
  EXPECT_EQ(reports_.all, (Strings{"will Kitchen", "pulled 0/2 Kitchen", "pulled 1/2 Kitchen", "did Kitchen",
                                   "processed Kitchen=2"}));
  EXPECT_EQ(journal_.all(), (Strings{"init Kitchen", "pull Kitchen 0", "pull Kitchen 1", "import Kitchen 2",
                                     "clean Kitchen"}));
  {
    std::lock_guard lock(journal_.mutex);
    ASSERT_EQ(journal_.requests.size(), 1u);
    EXPECT_EQ(journal_.requests[0].localAlbumData, catalog_);
    EXPECT_EQ(journal_.requests[0].localIPhotoLibraryPath, "/photos/Library");
    EXPECT_EQ(journal_.requests[0].savedComputer.uuid(), "Kitchen-UUID");
    EXPECT_EQ(journal_.requests[0].appConfig, &config_);
    EXPECT_EQ(journal_.minimums, (std::vector<uint64_t>{10, 10}));
  }
  EXPECT_TRUE(log_.contains("PullThread leaving wait"));
  EXPECT_TRUE(log_.contains("pulled 2 items from Kitchen"));
  EXPECT_TRUE(log_.contains("removed <AutoSyncComputer: uuid=Kitchen-UUID computerName=Kitchen> from to-do list at index 0"));
  EXPECT_TRUE(pull_->toDoComputerNames().empty());

  // A failed scan drops the catalog: the next peer waits again.
  pull_->localAlbumXMLScanDidFail(Error("AlbumSetErrorDomain", -1, "unreadable"));
  script("Kitchen", {Script{.photos = 1}});
  pull_->autoSyncComputerTXTRecordDidChange(kitchen_);
  EXPECT_FALSE(runUntil([&] { return journal_.inits().size() > 1; }, 200ms));
  giveCatalog();
  ASSERT_TRUE(runUntilProcessedReports(2));
  EXPECT_EQ(reports_.all.back(), "processed Kitchen=1");
}

TEST_F(PullThreadTest, TwoFailingPeersAlternateWithOneErrorPerStreak) {
  Script refused{.initError = connectionRefused()};
  Script fine{.photos = 1};
  script("Kitchen", {refused, refused, fine, refused, fine});
  script("Office", {Script{.photos = 3, .pullError = connectionRefused(), .failIndex = 1}, refused, refused, fine});
  giveCatalog();
  pull_->autoSyncComputerWasAdded(kitchen_);
  pull_->autoSyncComputerWasAdded(office_);
  pull_->start();
  ASSERT_TRUE(runUntilProcessedReports(1));
  EXPECT_EQ(journal_.inits(), (Strings{"Kitchen", "Office", "Kitchen", "Office", "Kitchen", "Office", "Office"}));
  // The photo Office gave before failing was still imported.
  EXPECT_EQ(journal_.all()[4], "import Office 1");
  EXPECT_EQ(reports_.outcomes(), (Strings{"error Error retrieving items from Kitchen: Connection refused",
                                          "error Error retrieving items from Office: Connection refused",
                                          "processed Kitchen=1 Office=1"}));
  EXPECT_EQ(log_.count("error pulling missing photos: Connection refused"), 5u);
  EXPECT_EQ(log_.count("re-added <AutoSyncComputer: uuid=Kitchen-UUID computerName=Kitchen> to the end of the list"), 2u);

  // After a success the next failure is a new streak, notified again.
  pull_->autoSyncComputerTXTRecordDidChange(kitchen_);
  ASSERT_TRUE(runUntilProcessedReports(2));
  EXPECT_EQ(reports_.outcomes(), (Strings{"error Error retrieving items from Kitchen: Connection refused",
                                          "error Error retrieving items from Office: Connection refused",
                                          "processed Kitchen=1 Office=1",
                                          "error Error retrieving items from Kitchen: Connection refused",
                                          "processed Kitchen=1"}));
}

// One peer failing twice the same way, then succeeding, then failing once more after a new status.
TEST_F(PullThreadTest, OutcomeReportsPerFailureStreak) {
  struct Case {
    const char* label;
    Script failing;
    Strings reports;  // for one streak
    const char* logLine;
  };
  const Case cases[] = {
      {"403 at the first photo", Script{.photos = 2, .pullError = accessDenied()}, {"denied Kitchen"},
       "access denied by Kitchen: Forbidden"},
      {"403 at initialization", Script{.initError = accessDenied()}, {"denied Kitchen"},
       "access denied by Kitchen: Forbidden"},
      {"end of stream", Script{.photos = 2, .pullError = endOfStream(), .failIndex = 1}, {},
       "error pulling missing photos: EOF on socket"},
      {"connection refused", Script{.initError = connectionRefused()},
       {"error Error retrieving items from Kitchen: Connection refused"},
       "error pulling missing photos: Connection refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    restart();
    script("Kitchen", {c.failing, c.failing, Script{.photos = 1}, c.failing, Script{}});
    giveCatalog();
    pull_->autoSyncComputerWasAdded(kitchen_);
    pull_->start();
    ASSERT_TRUE(runUntilProcessedReports(1));
    // Every failure re-queues the peer: three passes of it before the list is empty.
    EXPECT_EQ(journal_.inits(), Strings(3, "Kitchen"));
    Strings expected = c.reports;
    expected.push_back("processed Kitchen=1");
    EXPECT_EQ(reports_.outcomes(), expected);
    EXPECT_EQ(log_.count(c.logLine), 2u);

    pull_->autoSyncComputerTXTRecordDidChange(kitchen_);
    ASSERT_TRUE(runUntilProcessedReports(2));
    for (const auto& line : c.reports) expected.push_back(line);
    expected.push_back("processed Kitchen=0");
    EXPECT_EQ(reports_.outcomes(), expected);
    EXPECT_EQ(reports_.count("error Error retrieving items from Kitchen: Forbidden"), 0u);
  }
}

TEST_F(PullThreadTest, AFailedImportIsReportedButThePeerCountsAsDone) {
  script("Kitchen", {Script{.photos = 2, .importError = Error("PhotoLibraryErrorDomain", 3, "library is locked")}});
  giveCatalog();
  pull_->autoSyncComputerWasAdded(kitchen_);
  pull_->start();
  ASSERT_TRUE(runUntilProcessedReports(1));
  EXPECT_EQ(reports_.outcomes(), (Strings{"error Error importing photos: library is locked", "processed Kitchen=0"}));
  EXPECT_EQ(journal_.inits().size(), 1u);
  EXPECT_TRUE(pull_->toDoComputerNames().empty());
}

TEST_F(PullThreadTest, APeerWithoutSavedSettingsCountsAsDoneWithNothing) {
  giveCatalog();
  pull_->autoSyncComputerWasAdded(peer("Unsaved"));
  pull_->start();
  ASSERT_TRUE(runUntilProcessedReports(1));
  EXPECT_EQ(reports_.all, (Strings{"will Unsaved", "processed Unsaved=0"}));
  EXPECT_TRUE(journal_.inits().empty());
  EXPECT_TRUE(log_.contains("missing SavedComputer for <AutoSyncComputer: uuid=Unsaved-UUID computerName=Unsaved>!"));
}

// A restart ends the pass after the current photo and the import of what was pulled; the peer is
// then pulled again from the start, and the ended pass reports no result.
TEST_F(PullThreadTest, ARestartEndsThePassAfterTheCurrentPhotoAndTheImport) {
  auto newCatalog = std::make_shared<AlbumData>("/photos/Other");
  struct Case {
    const char* label;
    std::function<void()> trigger;
    std::shared_ptr<const AlbumData> catalogAfter;
  };
  const Case cases[] = {
      {"new status", [&] { pull_->autoSyncComputerTXTRecordDidChange(kitchen_); }, catalog_},
      {"new settings", [&] { pull_->autoSyncComputerConfigDidChange(kitchen_); }, catalog_},
      {"new catalog", [&] { pull_->setLocalAlbumData(newCatalog, "/photos/Other"); }, newCatalog},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    restart();
    Script interrupted{.photos = 5};
    interrupted.beforePull = [&](uint64_t index) {
      if (index == 1) onMain(c.trigger);
    };
    script("Kitchen", {interrupted, Script{.photos = 3}});
    giveCatalog();
    pull_->autoSyncComputerWasAdded(kitchen_);
    pull_->autoSyncComputerWasAdded(office_);
    pull_->start();
    ASSERT_TRUE(runUntilProcessedReports(1));
    EXPECT_EQ(journal_.all(),
              (Strings{"init Kitchen", "pull Kitchen 0", "pull Kitchen 1", "import Kitchen 2", "clean Kitchen",
                       "init Kitchen", "pull Kitchen 0", "pull Kitchen 1", "pull Kitchen 2", "import Kitchen 3",
                       "clean Kitchen", "init Office", "clean Office"}));
    EXPECT_EQ(reports_.outcomes(), (Strings{"processed Kitchen=3 Office=0"}));
    EXPECT_EQ(reports_.count("will Kitchen"), 2u);
    EXPECT_EQ(log_.count("restarting"), 1u);
    EXPECT_TRUE(log_.contains("requesting restart of") || c.catalogAfter != catalog_);
    std::lock_guard lock(journal_.mutex);
    ASSERT_EQ(journal_.requests.size(), 3u);
    EXPECT_EQ(journal_.requests[1].localAlbumData, c.catalogAfter);
  }
}

TEST_F(PullThreadTest, NewsOfOtherPeersWhileOneIsPulled) {
  Script kitchen{.photos = 3};
  Strings toDoDuringPull;
  kitchen.beforePull = [&](uint64_t index) {
    if (index != 1) return;
    onMain([&] {
      pull_->autoSyncComputerTXTRecordDidChange(office_);  // further down: nothing changes
      pull_->autoSyncComputerConfigDidChange(office_);
      pull_->autoSyncComputerTXTRecordDidChange(den_);  // not queued: appended
      config_.setMinFreeDiskSpaceGB(25);
      toDoDuringPull = pull_->toDoComputerNames();
    });
  };
  script("Kitchen", {kitchen});
  script("Office", {Script{.photos = 1}});
  script("Den", {Script{.photos = 2}});
  giveCatalog();
  pull_->autoSyncComputerWasAdded(kitchen_);
  pull_->autoSyncComputerWasAdded(office_);
  pull_->start();
  ASSERT_TRUE(runUntilProcessedReports(1));
  EXPECT_EQ(toDoDuringPull, (Strings{"Kitchen", "Office", "Den"}));
  EXPECT_EQ(journal_.inits(), (Strings{"Kitchen", "Office", "Den"}));
  EXPECT_EQ(reports_.outcomes(), (Strings{"processed Den=2 Kitchen=3 Office=1"}));
  EXPECT_FALSE(log_.contains("restarting"));
  std::lock_guard lock(journal_.mutex);
  // The free-space minimum is read before every photo.
  EXPECT_EQ(journal_.minimums, (std::vector<uint64_t>{10, 10, 25, 25, 25, 25}));
}

TEST_F(PullThreadTest, RemovingThePeerInProgressLetsItsPassFinishUncounted) {
  struct Case {
    const char* label;
    std::optional<Error> failure;
  };
  const Case cases[] = {{"succeeding", std::nullopt}, {"failing", connectionRefused()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    restart();
    Script kitchen{.photos = 3, .pullError = c.failure, .failIndex = 2};
    kitchen.beforePull = [&](uint64_t index) {
      if (index == 0) onMain([&] { pull_->autoSyncComputerWasRemoved(kitchen_); });
    };
    script("Kitchen", {kitchen});
    script("Office", {Script{.photos = 1}});
    giveCatalog();
    pull_->autoSyncComputerWasAdded(kitchen_);
    pull_->autoSyncComputerWasAdded(office_);
    pull_->start();
    ASSERT_TRUE(runUntilProcessedReports(1));
    EXPECT_EQ(journal_.inits(), (Strings{"Kitchen", "Office"}));
    EXPECT_EQ(journal_.all()[3], c.failure ? "import Kitchen 2" : "pull Kitchen 2");
    EXPECT_EQ(reports_.all.back(), "processed Office=1");
    EXPECT_TRUE(log_.contains("removing <AutoSyncComputer: uuid=Kitchen-UUID computerName=Kitchen> from to-do list"));
    EXPECT_TRUE(pull_->toDoComputerNames().empty());
  }
}

TEST_F(PullThreadTest, StoppingDoesNotWaitForAMainThreadThatIsNotRunning) {
  script("Kitchen", {Script{.photos = 1}});
  giveCatalog();
  pull_->autoSyncComputerWasAdded(kitchen_);
  pull_->start();
  // The first report waits for the main loop, which this test never runs.
  std::this_thread::sleep_for(100ms);
  auto before = std::chrono::steady_clock::now();
  pull_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
  EXPECT_TRUE(journal_.inits().empty());
  EXPECT_TRUE(reports_.all.empty());
}

}  // namespace
