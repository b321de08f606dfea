// The controller's side of the workers' reports, in-process: what it publishes, which status line
// it shows and which desktop notifications it posts. DNS-SD is an in-process network, the
// notification service a recorder, and the cataloging thread runs a scripted scan on test time.
#include "agent/QVAgentController.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include "loomkit/http/InProcessNetServices.h"
#include "loomkit/http/NetServices.h"
#include "loomkit/shared/PollMainLoop.h"
#include "platform/StatusItem.h"
#include "protocol/RemoteComputer.h"
#include "protocol/SyncComputerRecord.h"
#include "tests/catalog/CatalogFixtures.h"
#include "tests/support/NetServiceEvents.h"
#include "tests/support/OffscreenApplication.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using fotello::AlbumData;
using fotello::DesktopNotification;
using fotello::IQVAgentStatus;
using fotello::QVAgentController;
using fotello::test::LogCapture;
using fotello::test::NetServiceEvents;
using loomkit::Error;
using loomkit::NetServices;

namespace {

struct RecordingNotifier : fotello::DesktopNotifier {
  std::string applicationName;
  std::vector<std::string> allNames, defaultNames;
  std::vector<DesktopNotification> posted;

  void registerApplication(const std::string& name, const std::vector<std::string>& all,
                           const std::vector<std::string>& defaults) override {
    applicationName = name;
    allNames = all;
    defaultNames = defaults;
  }
  void notify(const DesktopNotification& notification) override { posted.push_back(notification); }
  void click(const std::string& context) { clicked(context); }

  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& n : posted) out.push_back(n.name);
    return out;
  }
};

struct Peer : fotello::RemoteComputer {
  explicit Peer(std::string name) : name_(std::move(name)) {}
  std::string uuid() const override { return "peer-uuid"; }
  std::string computerName() const override { return name_; }
  std::shared_ptr<loomkit::NetService> netService() const override { return nullptr; }
  std::string name_;
};

std::unique_ptr<AlbumData> catalogOf(const std::string& library, size_t photos, double scanDate) {
  std::vector<fotello::Photo> list;
  for (size_t i = 0; i < photos; ++i) {
    list.push_back(fotello::test::photoWith(std::to_string(i), fotello::test::digest("abcdef"[i % 6]), std::nullopt));
  }
  return std::make_unique<AlbumData>(library, std::move(list), std::vector<fotello::Album>{},
                                     std::vector<fotello::Roll>{}, scanDate);
}

class QVAgentControllerTest : public ::testing::Test {
 protected:
  QVAgentControllerTest() {
    loomkit::MainLoop::setMain(&loop_);
    std::filesystem::create_directories(library_);
    fotello::test::writeFile(library_ + "/AlbumData.xml", "<plist/>");
  }
  ~QVAgentControllerTest() override {
    releaseScan(1000);
    controller_.reset();
    browser_.reset();
    loomkit::MainLoop::setMain(nullptr);
  }

  // The controller with the test's platform; the cataloging thread (started only by a launch)
  // scans photo counts from steps_, one step per releaseScan.
  void makeController(std::function<bool()> statusItemAvailable = [] { return false; }) {
    auto notifier = std::make_unique<RecordingNotifier>();
    notifier_ = notifier.get();
    QVAgentController::Services services;
    services.registry = network_.newHost({"10.0.0.1"});
    services.notifier = std::move(notifier);
    services.computerName = [] { return std::string("Kitchen"); };
    services.statusItemAvailable = std::move(statusItemAvailable);
    services.launchDesktopApplication = [this](Error* error) {
      ++launches_;
      return launchSucceeds_ || loomkit::setError(error, "FotelloAgentErrorDomain", -1, "Failed to launch Fotello");
    };
    fotello::ScanThread::Clock clock{[this] { return now_.load(); }, [this](double s) { advance(s); }};
    services.serverThread = std::make_unique<fotello::QVServerThread>(0, INADDR_LOOPBACK);
    services.pullThread = std::move(pullThread_);
    services.scanThread = std::make_unique<fotello::ScanThread>(
        [this](const std::string& path, const AlbumData*, bool, fotello::AlbumXMLScannerDelegate& delegate,
               Error* error) -> std::unique_ptr<AlbumData> {
          for (size_t k = 0; k < steps_.size(); ++k) {
            waitForRelease(k + 1);
            advance(7);  // past the 6-second pacing, so that every step is reported
            if (!delegate.albumXMLScannerShouldContinueWithCurrent(steps_[k].first, steps_[k].second)) {
              loomkit::setError(error, "AlbumSetErrorDomain", -7, "abort requested");
              return nullptr;
            }
          }
          waitForRelease(steps_.size() + 1);
          return catalogOf(path, 2, now_.load());
        },
        clock);
    controller_ = std::make_unique<QVAgentController>(fotello::test::programPath("tests/agent_tests"),
                                                      std::move(services));
    auto& config = controller_->appConfig();
    ASSERT_TRUE(config.loadWithCreateNew(true));
    config.setIPhotoLibraryPath(library_);
  }

  // Stands in for the serving thread: it listens, so the service is published. A launched
  // controller hears it as the notification, one that was not launched by a direct call.
  void serverListens(bool launched = false) {
    if (launched) {
      loomkit::NotificationCenter::defaultCenter().post({"serverThreadDidBindAndListen", {{"port", 17600}}});
    } else {
      controller_->serverThreadDidBindAndListen(17600);
    }
    ASSERT_TRUE(waitFor([&] { return controller_->netService().published(); }));
    browser_ = observer_->newBrowser(NetServices::serviceType(), &browsing_);
    ASSERT_TRUE(waitFor([&] { return browsing_.foundNamed("Kitchen") != nullptr; }));
    service_ = browsing_.foundNamed("Kitchen");
    service_->setDelegate(&browsing_);
    service_->resolveWithTimeout();
    ASSERT_TRUE(waitFor([&] { return !browsing_.resolved.empty(); }));
    service_->startMonitoring();
  }
  // The status the service announces now.
  std::unique_ptr<IQVAgentStatus> announced() { return IQVAgentStatus::newWithTXTRecordData(service_->txtRecordData()); }

  bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5s) {
    return loop_.runUntil(pred, timeout);
  }
  void settle() { loop_.runUntil([] { return false; }, 50ms); }

  void advance(double seconds) {
    double t = now_.load();
    while (!now_.compare_exchange_weak(t, t + seconds)) {
    }
  }
  void releaseScan(size_t upTo) {
    std::lock_guard<std::mutex> lock(gateMutex_);
    released_ = std::max(released_, upTo);
    gate_.notify_all();
  }
  void waitForRelease(size_t step) {
    std::unique_lock<std::mutex> lock(gateMutex_);
    gate_.wait(lock, [&] { return released_ >= step; });
  }

  loomkit::PollMainLoop loop_;
  fotello::test::TempDir home_;
  fotello::test::ScopedEnv homeEnv_{"FOTELLO_HOME", home_.path()};
  fotello::test::ScopedReadTimeout readTimeout_{60};
  std::string library_ = home_.file("Library");
  loomkit::InProcessNetServices network_;
  std::unique_ptr<loomkit::DNSServiceRegistry> observer_ = network_.newHost({"10.0.0.2"});
  NetServiceEvents browsing_;
  std::unique_ptr<loomkit::ServiceBrowser> browser_;
  std::shared_ptr<loomkit::NetService> service_;
  RecordingNotifier* notifier_ = nullptr;
  int launches_ = 0;
  bool launchSucceeds_ = true;

  std::atomic<double> now_{1000};
  std::vector<std::pair<uint64_t, uint64_t>> steps_;
  std::mutex gateMutex_;
  std::condition_variable gate_;
  size_t released_ = 0;  // guarded by gateMutex_

  std::unique_ptr<fotello::PullThread> pullThread_;  // handed to the next controller when set
  std::unique_ptr<QVAgentController> controller_;
};

TEST_F(QVAgentControllerTest, ScanReportsDriveTheStatusLineTheTXTRecordAndTheNotifications) {
  steps_ = {{1, 2}, {0, 1}, {0, 0}};
  makeController();
  LogCapture log(loomkit::Log::kInfo);
  controller_->launchWithLoadedConfiguration();
  EXPECT_EQ(notifier_->applicationName, "Fotello Agent");
  EXPECT_EQ(notifier_->allNames, QVAgentController::notificationNames());
  EXPECT_EQ(notifier_->defaultNames, QVAgentController::notificationNames());
  ASSERT_EQ(QVAgentController::notificationNames().size(), 11u);

  ASSERT_TRUE(waitFor([&] { return controller_->statusLine() == "Cataloging photos"; }));
  serverListens(true);
  ASSERT_TRUE(announced());
  EXPECT_FALSE(announced()->albumDataSHA1());

  const char* lines[] = {"Cataloging 1 of 2 photos", "Cataloging 1 photo", "Cataloging photos"};
  for (size_t k = 0; k < steps_.size(); ++k) {
    releaseScan(k + 1);
    ASSERT_TRUE(waitFor([&] { return controller_->statusLine() == lines[k]; })) << controller_->statusLine();
    // No catalog yet: the announcement follows the scan's progress.
    ASSERT_TRUE(waitFor([&] { return announced() && announced()->totalPhotos() == steps_[k].second; }));
    EXPECT_EQ(announced()->currentPhoto(), steps_[k].first);
    EXPECT_FALSE(announced()->albumDataSHA1());
  }

  releaseScan(steps_.size() + 1);
  ASSERT_TRUE(waitFor([&] { return controller_->statusLine() == "Idle"; })) << controller_->statusLine();
  ASSERT_TRUE(waitFor([&] { return announced() && announced()->albumDataSHA1(); }));
  EXPECT_EQ(announced()->totalPhotos(), 2u);

  ASSERT_EQ(notifier_->names(), (std::vector<std::string>{"CatalogingWillBegin", "CatalogingDidEnd"}));
  EXPECT_EQ(notifier_->posted[0].title, "Cataloging photos");
  EXPECT_EQ(notifier_->posted[0].description, "Cataloging photos in " + library_);
  EXPECT_EQ(notifier_->posted[1].title, "Cataloging complete");
  EXPECT_EQ(notifier_->posted[1].description, "Finished cataloging photos in " + library_);
  for (const auto& n : notifier_->posted) {
    EXPECT_FALSE(n.sticky);
    EXPECT_FALSE(n.clickContext);
  }
  EXPECT_TRUE(log.contains("INFO [thread"));
  EXPECT_TRUE(log.contains("Finished cataloging photos in " + library_));
  EXPECT_TRUE(log.contains("no status area on this desktop"));
}

TEST_F(QVAgentControllerTest, AnEqualCatalogHandsNothingOverButClearsTheTextAndNotifies) {
  makeController();
  serverListens();
  controller_->scanThreadDidLoadAlbumDataFromCache(catalogOf(library_, 3, 500));
  ASSERT_TRUE(waitFor([&] { return browsing_.txtUpdates.size() == 1; }));
  std::string digest = announced()->albumDataSHA1().value_or("");
  EXPECT_EQ(digest.size(), 40u);

  LogCapture log(loomkit::Log::kDebug);
  controller_->scanThreadWillBeginScan();
  EXPECT_EQ(controller_->statusLine(), "Cataloging photos");
  // The same catalog, scanned again into a new object.
  controller_->scanThreadDidFinishScan(catalogOf(library_, 3, 500));
  settle();
  EXPECT_EQ(browsing_.txtUpdates.size(), 1u) << "an equal catalog changes no TXT record";
  EXPECT_FALSE(log.contains("setting TXT record"));
  EXPECT_EQ(controller_->statusLine(), "Idle");
  EXPECT_EQ(notifier_->names(), (std::vector<std::string>{"CatalogingWillBegin", "CatalogingDidEnd"}));

  // A different one is taken and announced.
  controller_->scanThreadDidFinishScan(catalogOf(library_, 4, 600));
  ASSERT_TRUE(waitFor([&] { return browsing_.txtUpdates.size() == 2; }));
  EXPECT_NE(announced()->albumDataSHA1().value_or(""), digest);
  EXPECT_EQ(announced()->totalPhotos(), 4u);
}

TEST_F(QVAgentControllerTest, AFailedScanIsAnnouncedShownAndStickilyNotified) {
  makeController();
  serverListens();
  LogCapture log(loomkit::Log::kInfo);
  Error failure("AlbumXMLScannerErrorDomain", -2, library_ + "/AlbumData.xml not found");
  double before = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count() -
                  978307200.0;
  controller_->scanThreadDidFailScan(failure);
  EXPECT_EQ(controller_->statusLine(), failure.description());
  ASSERT_TRUE(waitFor([&] { return !browsing_.txtUpdates.empty(); }));
  auto status = announced();
  ASSERT_TRUE(status && status->scanError());
  EXPECT_EQ(status->scanError()->domain(), "AlbumXMLScannerErrorDomain");
  EXPECT_EQ(status->scanError()->description(), failure.description());
  ASSERT_TRUE(status->scanDate());
  EXPECT_NEAR(*status->scanDate(), before, 5.0);
  ASSERT_EQ(notifier_->posted.size(), 1u);
  EXPECT_EQ(notifier_->posted[0].name, "CatalogingDidFail");
  EXPECT_EQ(notifier_->posted[0].title, "Cataloging error");
  EXPECT_EQ(notifier_->posted[0].description, failure.description());
  EXPECT_TRUE(notifier_->posted[0].sticky);
  EXPECT_TRUE(log.contains("Cataloging error: " + failure.description()));
  // The failure text stays until the next cataloging report, whatever else happens.
  controller_->serverThreadWillProcessConnection();
  EXPECT_EQ(controller_->statusLine(), failure.description());
  controller_->scanThreadWillBeginScan();
  EXPECT_EQ(controller_->statusLine(), "Cataloging photos");
}

TEST_F(QVAgentControllerTest, PullPassSummaries) {
  makeController();
  struct Case {
    std::map<std::string, uint64_t> counts;
    std::string title, description;  // empty: nothing posted
  } cases[] = {
      {{}, "", ""},
      {{{"Den", 0}, {"Attic", 0}}, "", ""},
      {{{"Den", 3}, {"Attic", 4}}, "Imported 7 items", "Imported from 2 computers"},
      {{{"Den", 1}}, "Imported 1 item", "Imported from Den"},
      {{{"Attic", 1234567}}, "Imported 1,234,567 items", "Imported from Attic"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    notifier_->posted.clear();
    LogCapture log(loomkit::Log::kInfo);
    controller_->pullThreadWillProcessComputer("Den");
    controller_->pullThreadComputersWereProcessed(c.counts);
    EXPECT_EQ(controller_->statusLine(), "Idle");
    if (c.title.empty()) {
      EXPECT_TRUE(notifier_->posted.empty());
      continue;
    }
    ASSERT_EQ(notifier_->posted.size(), 1u);
    EXPECT_EQ(notifier_->posted[0].name, "PullDidFinish");
    EXPECT_EQ(notifier_->posted[0].title, c.title);
    EXPECT_EQ(notifier_->posted[0].description, c.description);
    EXPECT_FALSE(notifier_->posted[0].sticky);
    EXPECT_TRUE(log.contains(c.title + " - " + c.description));
  }
}

TEST_F(QVAgentControllerTest, StatusLinePriority) {
  makeController();
  Peer den("Den");
  struct Step {
    std::function<void()> report;
    std::string line;
  } steps[] = {
      {[&] { controller_->resetStatusItemTitle(); }, "Idle"},
      {[&] { controller_->serverThreadWillProcessConnection(); }, "Serving photos"},
      {[&] { controller_->serverThreadWillProcessConnection(); }, "Serving photos"},
      {[&] { controller_->pullThreadWillProcessComputer("Den"); }, "Retrieving items from Den"},
      {[&] { controller_->scanThreadWillBeginScan(); }, "Cataloging photos"},
      {[&] { controller_->pullThreadPulled(0, 1234, den); }, "Retrieving 1 of 1,234 items from Den"},
      {[&] { controller_->pullThreadPulled(1, 1234, den); }, "Retrieving 2 of 1,234 items from Den"},
      {[&] { controller_->pullThreadDidProcessComputer("Den"); }, "Cataloging photos"},
      {[&] { controller_->scanThreadDidFinishScan(catalogOf(library_, 1, 10)); }, "Serving photos"},
      {[&] { controller_->serverThreadDidProcessConnection(); }, "Serving photos"},
      {[&] { controller_->serverThreadDidProcessConnection(); }, "Idle"},
      {[&] { controller_->pullThreadPulled(0, 1, den); }, "Retrieving 1 of 1 items from Den"},
      {[&] { controller_->pullThreadError("disk full"); }, "Idle"},
  };
  for (const Step& step : steps) {
    step.report();
    EXPECT_EQ(controller_->statusLine(), step.line);
  }
  // One PullWillStart per peer pass, at its first photo, with the total.
  std::vector<DesktopNotification> starts;
  for (const auto& n : notifier_->posted) {
    if (n.name == "PullWillStart") starts.push_back(n);
  }
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].title, "Retrieving photos");
  EXPECT_EQ(starts[0].description, "Retrieving 1,234 items from Den");
  EXPECT_EQ(starts[1].description, "Retrieving 1 photo from Den");
  EXPECT_EQ(notifier_->posted.back().name, "PullThreadError");
  EXPECT_EQ(notifier_->posted.back().title, "Error retrieving photos");
  EXPECT_EQ(notifier_->posted.back().description, "disk full");
}

TEST_F(QVAgentControllerTest, AccessDeniedIsStickyAndItsClickOpensTheDesktopApplication) {
  makeController();
  LogCapture log(loomkit::Log::kInfo);
  controller_->pullThreadWillProcessComputer("Den");
  controller_->pullThreadAccessWasDeniedTo("Den");
  EXPECT_EQ(controller_->statusLine(), "Retrieving items from Den");
  ASSERT_EQ(notifier_->posted.size(), 1u);
  const DesktopNotification& n = notifier_->posted[0];
  EXPECT_EQ(n.name, "AccessWasDenied");
  EXPECT_EQ(n.title, "Access denied");
  EXPECT_EQ(n.description, "Access to Den was denied. Click to open Fotello.");
  EXPECT_TRUE(n.sticky);
  EXPECT_EQ(n.clickContext, "accessDenied");
  EXPECT_TRUE(log.contains("Access to Den was denied. Click to open Fotello."));

  notifier_->click("somethingElse");
  EXPECT_EQ(launches_, 0);
  notifier_->click("accessDenied");
  EXPECT_EQ(launches_, 1);
  // Headless, the failure alert is an ERROR line.
  launchSucceeds_ = false;
  notifier_->click("accessDenied");
  EXPECT_EQ(launches_, 2);
  EXPECT_TRUE(log.contains("Failed to launch Fotello"));
}

TEST_F(QVAgentControllerTest, PasswordErrorFromTheServingThreadIsNotifiedOnTheMainThread) {
  makeController();
  LogCapture log(loomkit::Log::kInfo);
  std::thread serving([&] {
    controller_->serverThreadLocalPasswordError(Error("PasswordStoreErrorDomain", -25300, "item not found"));
  });
  serving.join();
  ASSERT_TRUE(waitFor([&] { return !notifier_->posted.empty(); }));
  EXPECT_EQ(notifier_->posted[0].name, "PasswordReadDidFail");
  EXPECT_EQ(notifier_->posted[0].title, "Password error");
  EXPECT_EQ(notifier_->posted[0].description, "Error reading password from keychain: item not found");
  EXPECT_TRUE(log.contains("Password error: Error reading password from keychain: item not found"));
  EXPECT_EQ(controller_->statusLine(), "");  // untouched: never reset in this test
}

TEST_F(QVAgentControllerTest, StatusLineOffTheMainThreadStopsTheProgram) {
  makeController();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        std::thread other([&] { controller_->resetStatusItemTitle(); });
        other.join();
      },
      "must be on main thread!");
}

}  // namespace

// The status-bar item needs a graphical session: an offscreen QApplication. Offscreen there is no
// status area, so the controller is told one exists to show what it does with the item; the real
// answer of the platform is checked last.
class QVAgentControllerStatusItemTest : public QVAgentControllerTest {
 protected:
  static void SetUpTestSuite() { fotello::test::OffscreenApplication::start(); }
  static void TearDownTestSuite() { fotello::test::OffscreenApplication::stop(); }
  static std::string firstMenuLine(fotello::StatusItem& item) {
    return item.menu().actions().value(0)->text().toStdString();
  }
};

TEST_F(QVAgentControllerStatusItemTest, TheItemFollowsTheStatusLineAndTheVisibilityKey) {
  makeController([] { return true; });
  controller_->launchWithLoadedConfiguration();
  ASSERT_TRUE(controller_->statusItem());
  ASSERT_TRUE(waitFor([&] { return controller_->statusLine() == "Cataloging photos"; }));
  EXPECT_EQ(firstMenuLine(*controller_->statusItem()), "Cataloging photos");
  EXPECT_EQ(controller_->statusItem()->trayIcon().toolTip().toStdString(), "Fotello Agent");

  controller_->appConfig().setStatusItemVisible(false);
  EXPECT_FALSE(controller_->statusItem());
  // The line is kept up to date while no item shows it.
  releaseScan(1);
  ASSERT_TRUE(waitFor([&] { return controller_->statusLine() == "Idle"; }));

  controller_->appConfig().setStatusItemVisible(true);
  ASSERT_TRUE(controller_->statusItem());
  EXPECT_EQ(firstMenuLine(*controller_->statusItem()), "Idle");
  controller_->serverThreadWillProcessConnection();
  EXPECT_EQ(firstMenuLine(*controller_->statusItem()), "Serving photos");
  // A failed scan shows the error icon until the line is reset by the next report.
  controller_->scanThreadDidFailScan(Error("AlbumXMLScannerErrorDomain", -2, "AlbumData.xml not found"));
  EXPECT_TRUE(controller_->statusItem()->isError());
  EXPECT_EQ(firstMenuLine(*controller_->statusItem()), "AlbumData.xml not found");
  controller_->serverThreadDidProcessConnection();
  EXPECT_FALSE(controller_->statusItem()->isError());
}

TEST_F(QVAgentControllerStatusItemTest, WithoutAStatusAreaOnlyTheLineIsKept) {
  makeController(&fotello::StatusItem::isAvailable);
  LogCapture log(loomkit::Log::kInfo);
  controller_->launchWithLoadedConfiguration();
  ASSERT_TRUE(waitFor([&] { return controller_->statusLine() == "Cataloging photos"; }));
  if (fotello::StatusItem::isAvailable()) {
    EXPECT_TRUE(controller_->statusItem());
  } else {
    EXPECT_FALSE(controller_->statusItem());
    EXPECT_TRUE(log.contains("no status area on this desktop; the status line is kept without a status-bar item"));
  }
}

namespace {

// Pulls one photo and imports it.
struct OnePhotoRetriever : fotello::PhotoRetriever {
  explicit OnePhotoRetriever(const fotello::PhotoRetrieverRequest& request) : request(request) {}
  bool initialize(Error*) override { return true; }
  bool hasRemainingItems() const override { return !pulled; }
  void setMinFreeDiskSpaceGB(uint64_t) override {}
  bool pullNextItem(Error*) override {
    pulled = true;
    request.delegate->autoPhotoRetrieverPulled(0, 1, request.computer);
    return true;
  }
  uint64_t pulledPhotosCount() const override { return pulled ? 1 : 0; }
  bool importItemsIntoIPhoto(Error*) override { return true; }
  uint64_t itemsImportedCount() const override { return 1; }
  void cleanUp() override {}
  fotello::PhotoRetrieverRequest request;
  bool pulled = false;
};

}  // namespace

// A saved peer on the network, once the server listens, is tracked, queued and pulled with the
// controller's catalog; its progress and result come back as the pull reports.
TEST_F(QVAgentControllerTest, AnAutomaticPeerIsPulledOnceTheServerListens) {
  const std::string denUUID = "0B5D2F7A-1C3E-4D5F-9A8B-7C6D5E4F3A2B";
  fotello::SyncComputerRecord record;
  record.setUuid(denUUID);
  record.setComputerName("Den");
  record.setAutomatic(true);
  ASSERT_TRUE(record.saveToFile());
  NetServiceEvents publisher;
  auto denHost = network_.newHost({"10.0.0.3"});
  auto den = denHost->newRegistration(
      "Den", NetServices::serviceType(), 17600,
      IQVAgentStatus(std::nullopt, std::nullopt, std::nullopt, 0, 4, denUUID, "Den", "ann").txtRecordData(), &publisher);

  std::mutex mutex;
  std::vector<fotello::PhotoRetrieverRequest> requests;
  pullThread_ = std::make_unique<fotello::PullThread>(
      [&](const fotello::PhotoRetrieverRequest& request) -> std::unique_ptr<fotello::PhotoRetriever> {
        std::lock_guard lock(mutex);
        requests.push_back(request);
        return std::make_unique<OnePhotoRetriever>(request);
      },
      fotello::PullThread::Timing{10ms, 30ms});
  makeController();
  controller_->launchWithLoadedConfiguration();
  releaseScan(1);
  ASSERT_TRUE(waitFor([&] {
    auto names = notifier_->names();
    return std::find(names.begin(), names.end(), "PullDidFinish") != names.end();
  })) << testing::PrintToString(notifier_->names());
  EXPECT_TRUE(controller_->netService().published());
  auto posted = [&](const std::string& name) {
    for (const auto& n : notifier_->posted) {
      if (n.name == name) return n.title + ": " + n.description;
    }
    return std::string();
  };
  EXPECT_EQ(posted("PullWillStart"), "Retrieving photos: Retrieving 1 photo from Den");
  EXPECT_EQ(posted("PullDidFinish"), "Imported 1 item: Imported from Den");
  std::lock_guard lock(mutex);
  ASSERT_GE(requests.size(), 1u);
  EXPECT_EQ(requests[0].computer.uuid(), denUUID);
  EXPECT_EQ(requests[0].localIPhotoLibraryPath, library_);
  ASSERT_TRUE(requests[0].localAlbumData);
  EXPECT_EQ(requests[0].localAlbumData->photoCount(), 2u);
  EXPECT_EQ(requests[0].appConfig, &controller_->appConfig());
}

// The peer list's unreadable-status notification reaches the desktop through the controller.
TEST_F(QVAgentControllerTest, StatusReadErrorsOfThePeerListAreNotified) {
  makeController();
  controller_->pullThread().autoSyncComputerListShouldNotify("Communication error", "Error reading status from Den: bad",
                                                             "StatusReadError");
  ASSERT_EQ(notifier_->posted.size(), 1u);
  EXPECT_EQ(notifier_->posted[0].name, "StatusReadError");
  EXPECT_EQ(notifier_->posted[0].title, "Communication error");
  EXPECT_EQ(notifier_->posted[0].description, "Error reading status from Den: bad");
  EXPECT_FALSE(notifier_->posted[0].sticky);
  EXPECT_FALSE(notifier_->posted[0].clickContext);
}
