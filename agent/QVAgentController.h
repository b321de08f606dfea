// The agent's top: launch sequence, single-instance lock, configuration and its reactions, the
// watch for the removal of the agent's own executable, and the worker threads' reports: catalog
// hand-overs, the published status record, the status line, the status-bar item and desktop
// notifications.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "agent/QVServerThread.h"
#include "agent/QVNetService.h"
#include "agent/ScanThread.h"
#include "catalog/AlbumData.h"
#include "loomkit/http/DNSServiceRegistry.h"
#include "loomkit/shared/MainLoop.h"
#include "loomkit/shared/NotificationCenter.h"
#include "platform/DesktopNotifier.h"
#include "protocol/AppConfig.h"
#include "sync/AutoSyncComputerList.h"
#include "sync/PullThread.h"
#include "sync/PullThreadDelegate.h"

namespace fotello {

class StatusItem;

// Main thread only: every operation runs on the main loop (MainLoop::main()), the worker
// threads' reports included; the one exception is serverThreadLocalPasswordError, which the
// serving thread calls on its own thread.
class QVAgentController final : public ScanThreadDelegate, public PullThreadDelegate, public QVServerThreadDelegate {
 public:
  // What the controller uses of the platform. Members left empty get the product's own: the
  // avahi-daemon registry, the session's notification service (or the log), the library
  // scanner, the HTTP service on port 17600, the computer's name, the desktop's status area and the installed desktop
  // application.
  struct Services {
    std::unique_ptr<loomkit::DNSServiceRegistry> registry;
    std::unique_ptr<DesktopNotifier> notifier;
    std::unique_ptr<ScanThread> scanThread;
    std::unique_ptr<QVServerThread> serverThread;
    // The pull thread; the controller sets its delegate, configuration and saved-settings lookup.
    std::unique_ptr<PullThread> pullThread;
    std::function<std::string()> computerName;
    // True when a status-bar item can be shown now.
    std::function<bool()> statusItemAvailable;
    // Starts the desktop application; false (with the error) when it cannot.
    std::function<bool(loomkit::Error* error)> launchDesktopApplication;
  };

  // The names of the desktop notifications, in registration order.
  static const std::vector<std::string>& notificationNames();

  // executablePath: the agent's own executable, watched for removal once launched. Needs the
  // main loop installed.
  explicit QVAgentController(std::string executablePath, Services services = {});
  ~QVAgentController() override;

  // The launch sequence; ends the main loop with a non-zero status when the lock or the
  // configuration cannot be had.
  void applicationDidFinishLaunching();
  // The rest of the launch once the configuration is loaded: status-bar item, read time-out,
  // worker wiring, configuration watch, the server's bind notification, threads, status line,
  // notification registration and the self-removal timer. Tests call it with a configuration
  // they loaded themselves.
  void launchWithLoadedConfiguration();

  AppConfig& appConfig() { return *appConfig_; }
  PullThread& pullThread() { return *pullThread_; }
  AutoSyncComputerList& autoSyncComputerList() { return *autoSyncComputerList_; }
  QVNetService& netService() { return *qvNetService_; }
  // The current status line, shown as the first line of the status-bar menu when there is one.
  const std::string& statusLine() const { return statusLine_; }
  // The status-bar item, or nullptr while none is shown.
  StatusItem* statusItem() { return statusItem_.get(); }

  // Recomputes the status line; main thread only ("must be on main thread!" otherwise).
  void resetStatusItemTitle();
  void addStatusItem();
  void removeStatusItem();
  // The status menu's and the access-denied notification's command: starts the desktop
  // application, or shows "Failed to launch Fotello".
  void openQVApp();
  // The status menu's quit command: asks "Stop all automatic photo syncing?" and quits on "Quit".
  void userTerminateQVAgent();

  // The server's report that it listens on port (notification "serverThreadDidBindAndListen",
  // user info "port"): start tracking peers and publish the service.
  void serverThreadDidBindAndListen(uint16_t port);

  // Cataloging thread reports.
  void scanThreadDidLoadAlbumDataFromCache(std::shared_ptr<const AlbumData> albumData) override;
  void scanThreadWillBeginScan() override;
  void scanThreadWillContinueScan() override;
  void scanThreadDidFinishScan(std::shared_ptr<const AlbumData> albumData) override;
  void scanThreadDidAbortScan() override;
  void scanThreadDidFailScan(const loomkit::Error& error) override;

  // Serving thread reports: a connection starts / ends (main thread), and the password store
  // failed (on the serving thread).
  void serverThreadWillProcessConnection();
  void serverThreadDidProcessConnection();
  void serverThreadWillProcessConnection(QVServerThread&) override { serverThreadWillProcessConnection(); }
  void serverThreadDidProcessConnection(QVServerThread&) override { serverThreadDidProcessConnection(); }
  void serverThreadLocalPasswordError(const loomkit::Error& error) override;

  // Pull thread reports.
  void pullThreadWillProcessComputer(const std::string& computerName) override;
  void pullThreadPulled(uint64_t index, uint64_t total, const RemoteComputer& computer) override;
  void pullThreadDidProcessComputer(const std::string& computerName) override;
  void pullThreadComputersWereProcessed(const std::map<std::string, uint64_t>& photosByComputerName) override;
  void pullThreadAccessWasDeniedTo(const std::string& computerName) override;
  void pullThreadError(const std::string& message) override;

 private:
  void configurationChanged(AppConfig::Key key);
  // Makes a new local catalog (or its absence) current unless it equals the current one, hands
  // it to the workers and publishes its status.
  void takeAlbumData(std::shared_ptr<const AlbumData> albumData);
  // The hand-over to the worker threads, in their order: cataloging, serving, pulling.
  void handOverToWorkers();
  void notify(const std::string& name, const std::string& title, const std::string& description, bool sticky = false,
              std::optional<std::string> clickContext = std::nullopt);
  // The configured library path for report texts.
  std::string libraryPathText() const;
  void ensureBundleExists();
  void terminate(int status);

  // Constant after construction.
  const std::string bundlePath_;

  // Main thread only.
  std::unique_ptr<AppConfig> appConfig_;
  std::unique_ptr<loomkit::DNSServiceRegistry> registry_;
  std::unique_ptr<ScanThread> scanThread_;
  std::unique_ptr<QVServerThread> serverThread_;  // after scanThread_: it asks it for the status
  // The list reports to the pull thread, which asks the list for saved settings: the destructor
  // stops the pull thread first.
  std::unique_ptr<PullThread> pullThread_;
  std::unique_ptr<AutoSyncComputerList> autoSyncComputerList_;
  std::unique_ptr<QVNetService> qvNetService_;
  std::unique_ptr<DesktopNotifier> notifier_;
  std::function<bool()> statusItemAvailable_;
  std::function<bool(loomkit::Error*)> launchDesktopApplication_;
  std::shared_ptr<const AlbumData> albumData_;  // the current local catalog, shared with the threads
  std::unique_ptr<StatusItem> statusItem_;
  std::string statusLine_;
  std::optional<std::string> catalogingStatus_;
  std::optional<std::string> retrievingStatus_;
  std::optional<std::string> computerNameBeingProcessed_;
  uint64_t connectionsBeingProcessed_ = 0;
  loomkit::NotificationCenter::Token bindObserver_ = 0;
  loomkit::MainLoop::Id bundleTimer_ = 0;
  bool terminating_ = false;
};

}  // namespace fotello
