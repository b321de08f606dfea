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
    : bundlePath_(std::move(executablePath)), appConfig_(std::make_unique<AppConfig>()) {}

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

  appConfig_->addObserver([this](AppConfig::Key key) { configurationChanged(key); });
  appConfig_->monitorForChanges();

  bundleTimer_ = loomkit::MainLoop::main()->addTimer(std::chrono::seconds(2), true, [this] { ensureBundleExists(); });
}

void QVAgentController::configurationChanged(AppConfig::Key key) {
  switch (key) {
    case AppConfig::Key::kTzLogLevel:
      Log::setLevel(appConfig_->tzLogLevel());
      LOG_INFO("log level set to %s", Log::displayName(appConfig_->tzLogLevel()));
      break;
    default:
      break;
  }
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
