// The cataloging thread against a real library folder, a real inotify watch and real catalog
// files; the library scan itself is scripted so that each test decides what a scan meets.
#include "agent/ScanThread.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "loomkit/shared/PollMainLoop.h"
#include "protocol/AppConfig.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/TestSupport.h"

using fotello::AlbumData;
using fotello::ScanThread;
using fotello::test::LogCapture;
using loomkit::Error;
using namespace std::chrono_literals;

namespace {

// What the controller would hear, in order, with the (test clock) time of each report.
struct Report {
  std::string what;
  double time;
};

class ScanThreadTest : public ::testing::Test, public fotello::ScanThreadDelegate {
 protected:
  ScanThreadTest() {
    loomkit::MainLoop::setMain(&loop_);
    std::filesystem::create_directories(library_);
    writeIndex(-100);
    config_.setUseSAXParser(false);
  }
  ~ScanThreadTest() override {
    thread_.reset();
    loomkit::MainLoop::setMain(nullptr);
  }

  // Writes the index with a modification time the given seconds from now.
  void writeIndex(int64_t fromNow, long nanoseconds = 0) {
    fotello::test::writeFile(index_, "<plist/>");
    setIndexTime(time(nullptr) + fromNow, nanoseconds);
  }
  void setIndexTime(time_t seconds, long nanoseconds) {
    timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, index_.c_str(), times, 0), 0);
  }

  // A catalog of the library with n photos, saved like a scan saves it.
  std::shared_ptr<AlbumData> saveCatalog(size_t n, std::optional<double> scanDate) {
    std::vector<fotello::Photo> photos;
    for (size_t i = 0; i < n; ++i) {
      photos.push_back(fotello::test::photoWith(std::to_string(i), fotello::test::digest("0123456789abcdef"[i % 16])
                                                                        .replace(0, 1, std::to_string(i % 10)),
                                                std::nullopt));
    }
    auto catalog = std::make_shared<AlbumData>(library_, std::move(photos), std::vector<fotello::Album>{},
                                               std::vector<fotello::Roll>{}, scanDate);
    EXPECT_TRUE(catalog->save());
    return catalog;
  }

  // A scan of photoCount_ photos that asks before each one and takes perPhoto_ seconds of test
  // time each; fails with -2 when the index is missing, as the library scanner does.
  ScanThread::Scanner scriptedScan(size_t n, double perPhoto) {
    photoCount_ = n;
    perPhoto_ = perPhoto;
    return [this](const std::string& path, const AlbumData*, bool useSAXParser,
                               fotello::AlbumXMLScannerDelegate& delegate,
                               Error* error) -> std::unique_ptr<AlbumData> {
      scans_.fetch_add(1);
      parsers_.push_back(useSAXParser);
      if (!fotello::test::fileExists(index_)) {
        loomkit::setError(error, "AlbumXMLScannerErrorDomain", -2, index_ + " not found");
        return nullptr;
      }
      if (failSAX_ && useSAXParser) {
        loomkit::setError(error, "AlbumXMLScannerErrorDomain", failSAX_, "Error parsing");
        return nullptr;
      }
      size_t n = photoCount_;
      for (size_t i = 0; i < n; ++i) {
        if (!delegate.albumXMLScannerShouldContinueWithCurrent(i, n)) {
          loomkit::setError(error, "AlbumSetErrorDomain", -7, "abort requested");
          return nullptr;
        }
        if (duringPhoto_) duringPhoto_(i);
        advance(perPhoto_);
      }
      advance(endDelay_);
      auto catalog = std::make_unique<AlbumData>(path, std::vector<fotello::Photo>{}, std::vector<fotello::Album>{},
                                                 std::vector<fotello::Roll>{}, now_.load());
      catalog->save();
      return catalog;
    };
  }

  void startThread(ScanThread::Scanner scanner) {
    ScanThread::Clock clock{[this] { return now_.load(); },
                            [this](double seconds) {
                              sleeps_.push_back(seconds);
                              advance(seconds);
                            }};
    thread_ = std::make_unique<ScanThread>(std::move(scanner), clock);
    thread_->setDelegate(this);
    thread_->setAppConfig(&config_);
    thread_->setIPhotoLibraryPath(library_);
    ASSERT_TRUE(thread_->start());
  }

  void advance(double seconds) {
    double t = now_.load();
    while (!now_.compare_exchange_weak(t, t + seconds)) {
    }
  }

  size_t countReports(const std::string& what) const {
    size_t n = 0;
    for (const Report& r : reports_) n += r.what == what;
    return n;
  }
  bool waitForReports(const std::string& what, size_t count, std::chrono::milliseconds timeout = 10s) {
    return loop_.runUntil([&] { return countReports(what) >= count; }, timeout);
  }
  std::string reportList() const {
    std::string out;
    for (const Report& r : reports_) out += r.what + "@" + std::to_string(r.time) + " ";
    return out;
  }
  std::vector<Report> reportsExcept(const std::string& what) const {
    std::vector<Report> out;
    for (const Report& r : reports_) {
      if (r.what != what) out.push_back(r);
    }
    return out;
  }

  // The controller's side: it takes every catalog and records every failure.
  void scanThreadDidLoadAlbumDataFromCache(std::shared_ptr<const AlbumData> albumData) override {
    reports_.push_back({albumData ? "load" : "load-none", now_.load()});
    thread_->setLocalAlbumData(albumData);
  }
  void scanThreadWillBeginScan() override { reports_.push_back({"begin", now_.load()}); }
  void scanThreadWillContinueScan() override { reports_.push_back({"continue", now_.load()}); }
  void scanThreadDidFinishScan(std::shared_ptr<const AlbumData> albumData) override {
    reports_.push_back({"finish", now_.load()});
    thread_->setLocalAlbumData(albumData);
  }
  void scanThreadDidAbortScan() override { reports_.push_back({"abort", now_.load()}); }
  void scanThreadDidFailScan(const Error& error) override {
    reports_.push_back({"fail", now_.load()});
    lastError_ = error;
    thread_->localAlbumXMLScanDidFail(error);
  }

  loomkit::PollMainLoop loop_;
  fotello::test::TempDir home_;
  fotello::test::ScopedEnv env_{"FOTELLO_HOME", home_.path()};
  std::string library_ = home_.file("Pictures/Library");
  std::string index_ = library_ + "/AlbumData.xml";
  fotello::AppConfig config_{home_.file("config/app_config.plist")};

  std::atomic<double> now_{800000000.0};
  std::atomic<int> scans_{0};
  std::vector<bool> parsers_;                 // cataloging thread; read after it reported
  std::vector<double> sleeps_;                // cataloging thread; read after it reported
  std::function<void(size_t)> duringPhoto_;  // runs on the cataloging thread
  std::atomic<size_t> photoCount_{0};
  std::atomic<double> perPhoto_{0};
  std::atomic<double> endDelay_{0};
  int64_t failSAX_ = 0;
  std::vector<Report> reports_;  // main thread
  Error lastError_;
  std::unique_ptr<ScanThread> thread_;
};

TEST_F(ScanThreadTest, SavedCatalogDecidesWhetherTheFirstPassScans) {
  struct Case {
    const char* name;
    std::optional<double> scanDate;  // absent: an incomplete save
    const char* firstReport;
    int scans;
  } cases[] = {
      {"complete catalog newer than the index", 5000.0, "load", 0},
      {"incomplete catalog", std::nullopt, "load-none", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log(loomkit::Log::kDebug);
    saveCatalog(3, c.scanDate);
    reports_.clear();
    scans_ = 0;
    startThread(scriptedScan(2, 0.1));
    ASSERT_TRUE(waitForReports(c.firstReport, 1)) << reportList();
    if (c.scans > 0) {
      ASSERT_TRUE(waitForReports("finish", 1)) << reportList();
      EXPECT_TRUE(log.contains("ignoring incomplete albumData cache file"));
    } else {
      // The thread goes back to waiting without a scan.
      loop_.runUntil([&] { return log.count("ScanThread entering wait") >= 2; }, 5s);
      EXPECT_EQ(thread_->status()->totalPhotos(), 3u);
      EXPECT_TRUE(thread_->status()->albumDataSHA1().has_value());
    }
    EXPECT_EQ(scans_.load(), c.scans) << reportList();
    EXPECT_EQ(reports_.front().what, c.firstReport);
    thread_.reset();
  }
}

TEST_F(ScanThreadTest, ReportsThatChangeTheRecordAreSixSecondsApart) {
  LogCapture log(loomkit::Log::kDebug);
  endDelay_ = 2.0;  // the first scan ends 2 seconds after its begin report
  startThread(scriptedScan(0, 0));
  ASSERT_TRUE(waitForReports("finish", 1)) << reportList();
  std::vector<Report> paced = reportsExcept("load-none");
  ASSERT_EQ(paced.size(), 2u) << reportList();
  EXPECT_EQ(paced[0].what, "begin");
  EXPECT_DOUBLE_EQ(paced[1].time - paced[0].time, 6.0);
  EXPECT_TRUE(log.contains("sleeping for 4.000000 seconds before updating TXT record"));

  // The index changes at once and the next scan is slow: 5 photos of 4 seconds. Its begin waits
  // out the interval from the finish report (not from when that report began to wait); progress
  // comes whenever more than 6 seconds passed; the finish is paced again.
  endDelay_ = 0;
  photoCount_ = 5;
  perPhoto_ = 4.0;
  writeIndex(100);
  ASSERT_TRUE(waitForReports("finish", 2)) << reportList();
  paced = reportsExcept("load-none");
  ASSERT_EQ(paced.size(), 6u) << reportList();
  EXPECT_EQ(paced[2].what, "begin");
  EXPECT_EQ(paced[3].what, "continue");
  EXPECT_EQ(paced[4].what, "continue");
  for (size_t i = 1; i < paced.size(); ++i) {
    EXPECT_GE(paced[i].time - paced[i - 1].time, 6.0) << reportList();
  }
}

TEST_F(ScanThreadTest, ChangeDuringScanAbortsAtTheNextPhotoAndScansAgain) {
  std::atomic<bool> touched{false};
  duringPhoto_ = [&](size_t i) {
    if (i == 2 && !touched.exchange(true)) {
      EXPECT_EQ(thread_->status()->currentPhoto(), 2u);  // status from the cataloging thread
      writeIndex(100);
    }
    // Real time for the watch to see the change, bounded so a missed change fails the test.
    if (touched && scans_ == 1) std::this_thread::sleep_for(50ms);
  };
  startThread(scriptedScan(200, 0));
  ASSERT_TRUE(waitForReports("abort", 1)) << reportList();
  ASSERT_TRUE(waitForReports("finish", 1)) << reportList();
  std::vector<Report> seen = reportsExcept("load-none");
  ASSERT_GE(seen.size(), 4u) << reportList();
  EXPECT_EQ(seen[0].what, "begin");
  EXPECT_EQ(seen[1].what, "abort");
  EXPECT_EQ(seen[2].what, "begin");
  EXPECT_EQ(scans_.load(), 2);
  EXPECT_EQ(thread_->status()->totalPhotos(), 0u);  // the new catalog (no photos) is current
}

TEST_F(ScanThreadTest, TouchesWithinOneSecondWakeOnce) {
  LogCapture log(loomkit::Log::kDebug);
  saveCatalog(1, 5000.0);
  startThread(scriptedScan(0, 0));
  ASSERT_TRUE(waitForReports("load", 1)) << reportList();
  // Back in its wait after deciding not to scan.
  ASSERT_TRUE(loop_.runUntil([&] { return log.count("ScanThread entering wait") >= 2; }, 5s));
  time_t base = time(nullptr) + 100;

  setIndexTime(base, 100000000);
  ASSERT_TRUE(waitForReports("finish", 1)) << reportList();
  setIndexTime(base, 600000000);  // the same second: no wake
  loop_.runUntil([] { return false; }, 1500ms);
  EXPECT_EQ(log.count("AlbumData.xml changed"), 1u);
  EXPECT_EQ(scans_.load(), 1);

  setIndexTime(base + 1, 200000000);
  ASSERT_TRUE(waitForReports("finish", 2)) << reportList();
  EXPECT_EQ(log.count("AlbumData.xml changed"), 2u);
  EXPECT_EQ(scans_.load(), 2);
}

TEST_F(ScanThreadTest, RemovedLibraryIsNoticedAndReportedAsFailure) {
  saveCatalog(2, 5000.0);
  startThread(scriptedScan(0, 0));
  ASSERT_TRUE(waitForReports("load", 1)) << reportList();
  loop_.runUntil([] { return false; }, 300ms);

  std::filesystem::remove_all(library_);
  auto removed = std::chrono::steady_clock::now();
  ASSERT_TRUE(waitForReports("fail", 1, 5s)) << reportList();
  EXPECT_LT(std::chrono::steady_clock::now() - removed, 2500ms);
  EXPECT_EQ(lastError_.code(), -2);
  auto status = thread_->status();
  ASSERT_TRUE(status->scanError().has_value());
  EXPECT_EQ(status->scanError()->description(), index_ + " not found");
  EXPECT_FALSE(status->albumDataSHA1().has_value());

  // The library comes back: the presence check notices, the watch follows the new folder, and
  // the next scan succeeds and clears the error.
  std::filesystem::create_directories(library_);
  writeIndex(5);
  ASSERT_TRUE(waitForReports("finish", 1, 5s)) << reportList();
  EXPECT_FALSE(thread_->status()->scanError().has_value());
  writeIndex(200);
  ASSERT_TRUE(waitForReports("finish", 2, 5s)) << "watch not renewed: " << reportList();
}

TEST_F(ScanThreadTest, EventParserFailureFallsBackToTheWholeDocumentReader) {
  struct Case {
    const char* name;
    bool useSAXParser;
    int64_t saxCode;
    std::vector<bool> parsers;
    const char* report;
    bool fallbackLine;
  } cases[] = {
      {"malformed index", true, -1, {true, false}, "finish", true},
      {"abort is not retried", true, -7, {true}, "abort", false},
      {"whole-document reader chosen", false, -1, {false}, "finish", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log(loomkit::Log::kError);
    std::filesystem::remove_all(home_.file("Data.noindex"));  // no saved catalog: every case scans
    config_.setUseSAXParser(c.useSAXParser);
    failSAX_ = c.saxCode;
    parsers_.clear();
    reports_.clear();
    startThread(scriptedScan(1, 0));
    ASSERT_TRUE(waitForReports(c.report, 1)) << reportList();
    EXPECT_EQ(parsers_, c.parsers);
    EXPECT_EQ(log.contains("failed to parse AlbumData.xml; trying NSPropertyListSerialization instead"),
              c.fallbackLine);
    thread_.reset();
  }
}

}  // namespace
