#include "agent/QVAgentController.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "loomkit/io/FileSystem.h"
#include "loomkit/io/SocketInputStream.h"
#include "loomkit/shared/FlockFile.h"
#include "loomkit/shared/Log.h"
#include "platform/Alert.h"
#include "protocol/FotelloApp.h"

namespace fotello {

using loomkit::Error;
using loomkit::Log;

QVAgentController::QVAgentController(std::string executablePath)
    : bundlePath_(std::move(executablePath)),
      appConfig_(std::make_unique<AppConfig>()),
      scanThread_(std::make_unique<ScanThread>()),
      serverThread_(std::make_unique<QVServerThread>()) {}

QVAgentController::~QVAgentController() {
  if (bundleTimer_ && loomkit::MainLoop::main()) loomkit::MainLoop::main()->cancel(bundleTimer_);
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

  if (!scanThread_->start(&error)) {
    LOG_ERROR("failed to start the cataloging thread: %s", error.description().c_str());
    terminate(1);
    return;
  }
  // Listens once the first catalog (or its absence) is handed over.
  serverThread_->start();

  bundleTimer_ = loomkit::MainLoop::main()->addTimer(std::chrono::seconds(2), true, [this] { ensureBundleExists(); });
}

void QVAgentController::configurationChanged(AppConfig::Key key) {
  switch (key) {
    case AppConfig::Key::kIPhotoLibraryPath:
      // The cataloging thread starts over with the new library.
      albumData_.reset();
      scanThread_->setIPhotoLibraryPath(appConfig_->iPhotoLibraryPath());
      break;
    case AppConfig::Key::kTzLogLevel:
      Log::setLevel(appConfig_->tzLogLevel());
      LOG_INFO("log level set to %s", Log::displayName(appConfig_->tzLogLevel()));
      break;
    case AppConfig::Key::kPasswordRequired:
      serverThread_->setPasswordRequired(appConfig_->passwordRequired());
      break;
    default:
      break;
  }
}

void QVAgentController::takeAlbumData(std::shared_ptr<const AlbumData> albumData) {
  if (albumData_ && albumData && albumData_->isEqualToAlbumData(*albumData)) return;
  albumData_ = std::move(albumData);
  scanThread_->setLocalAlbumData(albumData_);
  serverThread_->setLocalAlbumData(albumData_);
}

void QVAgentController::scanThreadDidLoadAlbumDataFromCache(std::shared_ptr<const AlbumData> albumData) {
  takeAlbumData(std::move(albumData));
}

void QVAgentController::scanThreadWillBeginScan() {
  LOG_INFO("Cataloging photos in %s", libraryPathText().c_str());
}

void QVAgentController::scanThreadWillContinueScan() {
  LOG_DEBUG("cataloging photo %llu of %llu", static_cast<unsigned long long>(scanThread_->currentPhoto()),
            static_cast<unsigned long long>(scanThread_->totalPhotos()));
}

void QVAgentController::scanThreadDidFinishScan(std::shared_ptr<const AlbumData> albumData) {
  LOG_DEBUG("scan thread did finish scan; updatedAlbumData = %p", static_cast<const void*>(albumData.get()));
  takeAlbumData(std::move(albumData));
  LOG_INFO("Finished cataloging photos in %s", libraryPathText().c_str());
}

void QVAgentController::scanThreadDidAbortScan() { LOG_DEBUG("scan thread did abort scan"); }

void QVAgentController::scanThreadDidFailScan(const Error& error) {
  LOG_DEBUG("scan thread did fail scan: %s", error.description().c_str());
  scanThread_->localAlbumXMLScanDidFail(error);
  LOG_INFO("Cataloging error: %s", error.description().c_str());
}

void QVAgentController::serverThreadWillProcessConnection(QVServerThread&) { ++connectionsBeingProcessed_; }

void QVAgentController::serverThreadDidProcessConnection(QVServerThread&) {
  if (connectionsBeingProcessed_ > 0) --connectionsBeingProcessed_;
}

void QVAgentController::serverThreadLocalPasswordError(const Error& error) {
  std::string description = "Error reading password from keychain: " + error.description();
  LOG_INFO("Password error: %s", description.c_str());
}

std::string QVAgentController::libraryPathText() const {
  return appConfig_->iPhotoLibraryPath().value_or("(null)");
}

void QVAgentController::ensureBundleExists() {
  if (loomkit::FileSystem::exists(bundlePath_)) return;
  // Shown as a desktop notification once the agent has a notifier; the log always has it.
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
