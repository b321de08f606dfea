#include "agent/QVAgentController.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QProcess>
#include <algorithm>
#include <any>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "loomkit/io/FileSystem.h"
#include "loomkit/io/SocketInputStream.h"
#include "loomkit/shared/Computer.h"
#include "loomkit/shared/FlockFile.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "platform/Alert.h"
#include "platform/AvahiServiceRegistry.h"
#include "platform/StatusItem.h"
#include "protocol/FotelloApp.h"
#include "protocol/IQVAgentStatus.h"
#include "protocol/RemoteComputer.h"
#include "sync/AutoPhotoRetriever.h"

namespace fotello {

using loomkit::Error;
using loomkit::Log;

namespace {

constexpr double kSecondsFrom1970To2001 = 978307200.0;
constexpr const char* kAccessDeniedContext = "accessDenied";
constexpr const char* kServerDidBindNotification = QVServerThread::kDidBindAndListenNotification;

// "###,###,##0" for the unsigned counts of the reports.
std::string grouped(uint64_t value) {
  return loomkit::groupedNumber(static_cast<long long>(std::min<uint64_t>(value, INT64_MAX)));
}

double secondsSince2001() {
  auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(sinceEpoch).count() - kSecondsFrom1970To2001;
}

// The port of the bind notification; nullopt for none or one outside 1..65535.
std::optional<uint16_t> portFrom(const loomkit::Notification& notification) {
  auto it = notification.userInfo.find("port");
  const int* port = it == notification.userInfo.end() ? nullptr : std::any_cast<int>(&it->second);
  if (!port || *port < 1 || *port > 65535) return std::nullopt;
  return static_cast<uint16_t>(*port);
}

// The desktop application: $FOTELLO_DESKTOP_APP, else "fotello" beside the agent's folder
// (desktop/fotello in a build tree, the same bin folder when installed), else on the PATH.
bool launchInstalledDesktopApplication(const std::string& agentPath, Error* error) {
  std::vector<std::string> candidates;
  if (const char* path = std::getenv("FOTELLO_DESKTOP_APP"); path && *path) candidates.push_back(path);
  std::filesystem::path folder = std::filesystem::path(agentPath).parent_path();
  candidates.push_back((folder / "fotello").string());
  candidates.push_back((folder.parent_path() / "desktop" / "fotello").string());
  for (const std::string& candidate : candidates) {
    if (::access(candidate.c_str(), X_OK) == 0 && QProcess::startDetached(QString::fromStdString(candidate), {})) {
      return true;
    }
  }
  if (QProcess::startDetached("fotello", {})) return true;
  return loomkit::setError(error, "FotelloAgentErrorDomain", -1, "Failed to launch Fotello");
}

}  // namespace

const std::vector<std::string>& QVAgentController::notificationNames() {
  static const std::vector<std::string> names = {
      "StatusReadError",    "PullWillStart",        "PullDidFinish",     "AccessWasDenied",
      "PasswordReadDidFail", "NetServiceDidResolveAddress", "PullThreadError", "CatalogingWillBegin",
      "CatalogingDidEnd",   "CatalogingDidFail",    "BundleWasDeleted"};
  return names;
}

QVAgentController::QVAgentController(std::string executablePath, Services services)
    : bundlePath_(std::move(executablePath)), appConfig_(std::make_unique<AppConfig>()) {
  registry_ = services.registry ? std::move(services.registry) : std::make_unique<AvahiServiceRegistry>();
  scanThread_ = services.scanThread ? std::move(services.scanThread) : std::make_unique<ScanThread>();
  serverThread_ = services.serverThread ? std::move(services.serverThread) : std::make_unique<QVServerThread>();
  pullThread_ = services.pullThread ? std::move(services.pullThread)
                                    : std::make_unique<PullThread>(AutoPhotoRetriever::factory());
  autoSyncComputerList_ = std::make_unique<AutoSyncComputerList>(*registry_, pullThread_.get());
  pullThread_->setDelegate(this);
  pullThread_->setAutoSyncComputerList(autoSyncComputerList_.get());
  qvNetService_ = std::make_unique<QVNetService>(*registry_, std::move(services.computerName));
  notifier_ = services.notifier ? std::move(services.notifier) : DesktopNotifier::newForSession();
  statusItemAvailable_ = services.statusItemAvailable ? std::move(services.statusItemAvailable)
                                                      : std::function<bool()>(&StatusItem::isAvailable);
  launchDesktopApplication_ = services.launchDesktopApplication
                                  ? std::move(services.launchDesktopApplication)
                                  : [path = bundlePath_](Error* error) { return launchInstalledDesktopApplication(path, error); };
  // The scan thread can answer status questions from the start; the launch wires the rest.
  scanThread_->setAppConfig(appConfig_.get());
  notifier_->setClickHandler([this](const std::string& context) {
    if (context == kAccessDeniedContext) openQVApp();
  });
  // The peer list's "StatusReadError": not sticky, no click context.
  pullThread_->setNotificationHandler(
      [this](const std::string& title, const std::string& description, const std::string& name) {
        notify(name, title, description);
      });
}

QVAgentController::~QVAgentController() {
  if (bindObserver_) loomkit::NotificationCenter::defaultCenter().removeObserver(bindObserver_);
  if (bundleTimer_ && loomkit::MainLoop::main()) loomkit::MainLoop::main()->cancel(bundleTimer_);
  // The cataloging thread goes first: it reports to what follows. The pull thread asks the peer
  // list for saved settings, so it ends before the list, which is gone before the registry.
  scanThread_.reset();
  pullThread_.reset();
  autoSyncComputerList_.reset();
}

void QVAgentController::applicationDidFinishLaunching() {
  loomkit::requireMainThread();
  // Photo syncing is background work: give way to everything the user does.
  ::setpriority(PRIO_PROCESS, 0, 20);
  errno = 0;
  LOG_DEBUG("process priority = %d", ::getpriority(PRIO_PROCESS, 0));
  Log::raw(loomkit::strprintf("Fotello Agent version %s started from %s", FOTELLO_VERSION, bundlePath_.c_str()));

  std::string lockPath = FotelloApp::applicationSupportPath() + "/QVAgent.lck";
  Error error;
  if (!loomkit::FlockFile::acquire(lockPath, &error)) {
    if (error.is(loomkit::kFlockFileErrorDomain, 2)) {
      LOG_ERROR("Fotello Agent is already running");
    } else {
      LOG_ERROR("Failed to lock %s: %s", lockPath.c_str(), error.description().c_str());
    }
    terminate(1);
    return;
  }

  // The agent never creates the configuration: the desktop application (or fotelloctl) does.
  if (!appConfig_->loadWithCreateNew(false, &error)) {
    LOG_ERROR("error loading config: %s", error.description().c_str());
    Alert::runModal("Failed to load configuration", error.description(), {"Quit"});
    terminate(1);
    return;
  }
  Log::setLevel(appConfig_->tzLogLevel());
  launchWithLoadedConfiguration();
}

void QVAgentController::launchWithLoadedConfiguration() {
  loomkit::requireMainThread();
  if (appConfig_->statusItemVisible()) addStatusItem();
  // Read once: a later change of the time-out takes effect at the next start.
  loomkit::SocketInputStream::setReadTimeoutSeconds(appConfig_->readTimeoutSeconds());

  scanThread_->setDelegate(this);
  scanThread_->setAppConfig(appConfig_.get());
  scanThread_->setIPhotoLibraryPath(appConfig_->iPhotoLibraryPath());
  serverThread_->setDelegate(this);
  serverThread_->setPasswordRequired(appConfig_->passwordRequired());
  serverThread_->setScanThread(scanThread_.get());

  appConfig_->addObserver([this](AppConfig::Key key) { configurationChanged(key); });
  appConfig_->monitorForChanges();

  // Observed before any thread runs: the first catalog hand-over makes the server bind.
  bindObserver_ = loomkit::NotificationCenter::defaultCenter().addObserver(
      kServerDidBindNotification, [this](const loomkit::Notification& notification) {
        std::optional<uint16_t> port = portFrom(notification);
        if (!port) {
          LOG_ERROR("%s without a valid port", kServerDidBindNotification);
          return;
        }
        serverThreadDidBindAndListen(*port);
      });
  pullThread_->setAppConfig(appConfig_.get());

  Error error;
  if (!scanThread_->start(&error)) {
    LOG_ERROR("failed to start the cataloging thread: %s", error.description().c_str());
    terminate(1);
    return;
  }
  // Listens once the first catalog (or its absence) is handed over.
  serverThread_->start();
  // Waits for automatic peers and the first catalog.
  pullThread_->start();

  resetStatusItemTitle();
  notifier_->registerApplication("Fotello Agent", notificationNames(), notificationNames());

  bundleTimer_ = loomkit::MainLoop::main()->addTimer(std::chrono::seconds(2), true, [this] { ensureBundleExists(); });
}

void QVAgentController::serverThreadDidBindAndListen(uint16_t port) {
  loomkit::requireMainThread();
  LOG_DEBUG("server listens on port %d; publishing", static_cast<int>(port));
  autoSyncComputerList_->start();
  if (appConfig_->uuid().empty()) {
    LOG_ERROR("uuid may not be nil");
    std::abort();
  }
  qvNetService_->setPort(port);
  qvNetService_->publish();
}

void QVAgentController::configurationChanged(AppConfig::Key key) {
  switch (key) {
    case AppConfig::Key::kIPhotoLibraryPath:
      // The cataloging thread starts over with the new library.
      albumData_.reset();
      // Nothing more is imported into the library the user left: the pull thread waits for the
      // new library's catalog.
      pullThread_->setLocalAlbumData(nullptr, appConfig_->iPhotoLibraryPath().value_or(""));
      scanThread_->setIPhotoLibraryPath(appConfig_->iPhotoLibraryPath());
      break;
    case AppConfig::Key::kTzLogLevel:
      Log::setLevel(appConfig_->tzLogLevel());
      LOG_INFO("log level set to %s", Log::displayName(appConfig_->tzLogLevel()));
      break;
    case AppConfig::Key::kStatusItemVisible:
      if (appConfig_->statusItemVisible()) {
        addStatusItem();
      } else {
        removeStatusItem();
      }
      break;
    case AppConfig::Key::kPasswordRequired:
      serverThread_->setPasswordRequired(appConfig_->passwordRequired());
      break;
    default:
      break;
  }
}

// ---- Catalog hand-over ----

void QVAgentController::takeAlbumData(std::shared_ptr<const AlbumData> albumData) {
  if (albumData_ && albumData && albumData_->isEqualToAlbumData(*albumData)) return;
  albumData_ = std::move(albumData);
  handOverToWorkers();
  if (albumData_) {
    qvNetService_->setTXTRecord(IQVAgentStatus::newWithAlbumData(*albumData_, *appConfig_));
  } else {
    // No usable catalog: nothing cataloged yet.
    qvNetService_->setTXTRecord(IQVAgentStatus::newWithCurrentPhoto(0, 0, *appConfig_));
  }
}

void QVAgentController::handOverToWorkers() {
  scanThread_->setLocalAlbumData(albumData_);
  // The first one binds the listening socket, which runs serverThreadDidBindAndListen before the
  // pull step.
  serverThread_->setLocalAlbumData(albumData_);
  pullThread_->setLocalAlbumData(albumData_, appConfig_->iPhotoLibraryPath().value_or(""));
}

// ---- Cataloging reports ----

void QVAgentController::scanThreadDidLoadAlbumDataFromCache(std::shared_ptr<const AlbumData> albumData) {
  takeAlbumData(std::move(albumData));
}

void QVAgentController::scanThreadWillBeginScan() {
  if (!albumData_) qvNetService_->setTXTRecord(scanThread_->status());
  catalogingStatus_ = "Cataloging photos";
  resetStatusItemTitle();
  std::string description = "Cataloging photos in " + libraryPathText();
  notify("CatalogingWillBegin", "Cataloging photos", description);
  LOG_INFO("%s", description.c_str());
}

void QVAgentController::scanThreadWillContinueScan() {
  if (!albumData_) qvNetService_->setTXTRecord(scanThread_->status());
  uint64_t total = scanThread_->totalPhotos();
  if (total == 0) {
    catalogingStatus_ = "Cataloging photos";
  } else if (total == 1) {
    catalogingStatus_ = "Cataloging 1 photo";
  } else {
    catalogingStatus_ = loomkit::strprintf("Cataloging %lu of %lu photos",
                                           static_cast<unsigned long>(scanThread_->currentPhoto()),
                                           static_cast<unsigned long>(total));
  }
  resetStatusItemTitle();
}

void QVAgentController::scanThreadDidFinishScan(std::shared_ptr<const AlbumData> albumData) {
  LOG_DEBUG("scan thread did finish scan; updatedAlbumData = %p", static_cast<const void*>(albumData.get()));
  takeAlbumData(std::move(albumData));
  catalogingStatus_.reset();
  resetStatusItemTitle();
  std::string description = "Finished cataloging photos in " + libraryPathText();
  notify("CatalogingDidEnd", "Cataloging complete", description);
  LOG_INFO("%s", description.c_str());
}

void QVAgentController::scanThreadDidAbortScan() { LOG_DEBUG("scan thread did abort scan"); }

void QVAgentController::scanThreadDidFailScan(const Error& error) {
  LOG_DEBUG("scan thread did fail scan: %s", error.description().c_str());
  scanThread_->localAlbumXMLScanDidFail(error);
  pullThread_->localAlbumXMLScanDidFail(error);
  qvNetService_->setTXTRecord(IQVAgentStatus::newWithScanDate(secondsSince2001(), error, *appConfig_));
  catalogingStatus_ = error.description();
  resetStatusItemTitle();
  // The failure stands until the next cataloging report: show it in the icon too.
  if (statusItem_) statusItem_->setError(true);
  notify("CatalogingDidFail", "Cataloging error", *catalogingStatus_, true);
  LOG_INFO("Cataloging error: %s", catalogingStatus_->c_str());
}

// ---- Serving reports ----

void QVAgentController::serverThreadWillProcessConnection() {
  ++connectionsBeingProcessed_;
  resetStatusItemTitle();
}

void QVAgentController::serverThreadDidProcessConnection() {
  if (connectionsBeingProcessed_ > 0) --connectionsBeingProcessed_;
  resetStatusItemTitle();
}

void QVAgentController::serverThreadLocalPasswordError(const Error& error) {
  // Runs on the serving thread: the notifier belongs to the main thread, so the notification is
  // handed there without waiting.
  std::string description = "Error reading password from keychain: " + error.description();
  LOG_INFO("Password error: %s", description.c_str());
  loomkit::MainLoop::main()->post([this, description] { notify("PasswordReadDidFail", "Password error", description); });
}

// ---- Pull reports ----

void QVAgentController::pullThreadWillProcessComputer(const std::string& computerName) {
  computerNameBeingProcessed_ = computerName;
  resetStatusItemTitle();
}

void QVAgentController::pullThreadPulled(uint64_t index, uint64_t total, const RemoteComputer& computer) {
  std::string name = computer.computerName();
  retrievingStatus_ = "Retrieving " + grouped(index + 1) + " of " + grouped(total) + " items from " + name;
  resetStatusItemTitle();
  if (index == 0) {
    std::string description = total == 1 ? "Retrieving 1 photo from " + name
                                          : "Retrieving " + grouped(total) + " items from " + name;
    notify("PullWillStart", "Retrieving photos", description);
    LOG_INFO("%s", description.c_str());
  }
}

void QVAgentController::pullThreadDidProcessComputer(const std::string&) {
  retrievingStatus_.reset();
  computerNameBeingProcessed_.reset();
  resetStatusItemTitle();
}

void QVAgentController::pullThreadComputersWereProcessed(const std::map<std::string, uint64_t>& photosByComputerName) {
  computerNameBeingProcessed_.reset();
  resetStatusItemTitle();
  uint64_t sum = 0;
  for (const auto& [name, count] : photosByComputerName) {
    sum = count > UINT64_MAX - sum ? UINT64_MAX : sum + count;
  }
  if (sum > 0) {
    std::string title = "Imported " + grouped(sum) + " item" + (sum == 1 ? "" : "s");
    std::string from = photosByComputerName.size() == 1
                           ? photosByComputerName.begin()->first
                           : loomkit::strprintf("%lu computers", static_cast<unsigned long>(photosByComputerName.size()));
    std::string description = "Imported from " + from;
    LOG_INFO("%s - %s", title.c_str(), description.c_str());
    notify("PullDidFinish", title, description);
  }
  retrievingStatus_.reset();
  resetStatusItemTitle();
}

void QVAgentController::pullThreadAccessWasDeniedTo(const std::string& computerName) {
  std::string description = "Access to " + computerName + " was denied. Click to open Fotello.";
  notify("AccessWasDenied", "Access denied", description, true, std::string(kAccessDeniedContext));
  LOG_INFO("%s", description.c_str());
  retrievingStatus_.reset();
  resetStatusItemTitle();
}

void QVAgentController::pullThreadError(const std::string& message) {
  notify("PullThreadError", "Error retrieving photos", message);
  LOG_INFO("error retrieving photos: %s", message.c_str());
  retrievingStatus_.reset();
  resetStatusItemTitle();
}

// ---- Status line, status-bar item, notifications ----

void QVAgentController::resetStatusItemTitle() {
  loomkit::requireMainThread();
  if (retrievingStatus_) {
    statusLine_ = *retrievingStatus_;
  } else if (catalogingStatus_) {
    statusLine_ = *catalogingStatus_;
  } else if (computerNameBeingProcessed_) {
    statusLine_ = "Retrieving items from " + *computerNameBeingProcessed_;
  } else if (connectionsBeingProcessed_ > 0) {
    statusLine_ = "Serving photos";
  } else {
    statusLine_ = "Idle";
  }
  if (statusItem_) {
    statusItem_->setStatusLine(statusLine_);
    statusItem_->setError(false);
  }
}

void QVAgentController::addStatusItem() {
  if (statusItem_) return;
  if (!statusItemAvailable_()) {
    LOG_INFO("no status area on this desktop; the status line is kept without a status-bar item");
    return;
  }
  statusItem_ = std::make_unique<StatusItem>(
      statusLine_, StatusItem::Actions{[this] { openQVApp(); }, [this] { userTerminateQVAgent(); }});
}

void QVAgentController::removeStatusItem() { statusItem_.reset(); }

void QVAgentController::openQVApp() {
  Error error;
  if (launchDesktopApplication_(&error)) return;
  LOG_ERROR("%s", error.description().c_str());
  Alert::runModal(error.description(), "", {"OK"});
}

void QVAgentController::userTerminateQVAgent() {
  int button = Alert::runModal("Stop all automatic photo syncing?",
                               "Fotello Agent is the background process that automatically syncs photos to and from "
                               "other computers. Quitting it means all automatic photo syncing will stop.",
                               {"Don't Quit", "Quit"});
  if (button == 1) terminate(0);
}

void QVAgentController::notify(const std::string& name, const std::string& title, const std::string& description,
                               bool sticky, std::optional<std::string> clickContext) {
  notifier_->notify(DesktopNotification{name, title, description, sticky, std::move(clickContext)});
}

std::string QVAgentController::libraryPathText() const {
  return appConfig_->iPhotoLibraryPath().value_or("(null)");
}

void QVAgentController::ensureBundleExists() {
  if (loomkit::FileSystem::exists(bundlePath_)) return;
  notify("BundleWasDeleted", "Fotello Agent exited", "Fotello application was deleted");
  // The log has it even where no notification service shows it.
  LOG_INFO("Fotello Agent exited: Fotello application was deleted");
  terminate(0);
}

void QVAgentController::terminate(int status) {
  if (terminating_) return;
  terminating_ = true;
  if (bundleTimer_) loomkit::MainLoop::main()->cancel(bundleTimer_);
  bundleTimer_ = 0;
  loomkit::MainLoop::main()->quit(status);
}

}  // namespace fotello
