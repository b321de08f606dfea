// The agent's top: launch sequence, single-instance lock, configuration and its reactions, and the
// watch for the removal of the agent's own executable.
#pragma once

#include <memory>
#include <string>

#include "agent/QVServerThread.h"
#include "agent/ScanThread.h"
#include "catalog/AlbumData.h"
#include "loomkit/shared/MainLoop.h"
#include "protocol/AppConfig.h"

namespace fotello {

// Main thread only: every operation runs on the main loop (MainLoop::main()), the worker
// threads' reports included.
class QVAgentController final : private ScanThreadDelegate, private QVServerThreadDelegate {
 public:
  // executablePath: the agent's own executable, watched for removal once launched.
  explicit QVAgentController(std::string executablePath);
  ~QVAgentController();

  // The launch sequence; ends the main loop with a non-zero status when the lock or the
  // configuration cannot be had.
  void applicationDidFinishLaunching();

  AppConfig& appConfig() { return *appConfig_; }

 private:
  void configurationChanged(AppConfig::Key key);
  // Makes a new local catalog (or its absence) current unless it equals the current one.
  void takeAlbumData(std::shared_ptr<const AlbumData> albumData);

  // Cataloging thread reports.
  void scanThreadDidLoadAlbumDataFromCache(std::shared_ptr<const AlbumData> albumData) override;
  void scanThreadWillBeginScan() override;
  void scanThreadWillContinueScan() override;
  void scanThreadDidFinishScan(std::shared_ptr<const AlbumData> albumData) override;
  void scanThreadDidAbortScan() override;
  void scanThreadDidFailScan(const loomkit::Error& error) override;
  // HTTP server reports.
  void serverThreadWillProcessConnection(QVServerThread& serverThread) override;
  void serverThreadDidProcessConnection(QVServerThread& serverThread) override;
  void serverThreadLocalPasswordError(const loomkit::Error& error) override;  // on the serving thread
  // The configured library path for report texts.
  std::string libraryPathText() const;
  void ensureBundleExists();
  void terminate(int status);

  // Constant after construction.
  const std::string bundlePath_;

  // Main thread only.
  std::unique_ptr<AppConfig> appConfig_;
  std::unique_ptr<ScanThread> scanThread_;
  std::unique_ptr<QVServerThread> serverThread_;  // after scanThread_: it asks it for the status
  std::shared_ptr<const AlbumData> albumData_;  // the current local catalog, shared with the threads
  uint64_t connectionsBeingProcessed_ = 0;       // HTTP connections being served now
  loomkit::MainLoop::Id bundleTimer_ = 0;
  bool terminating_ = false;
};

}  // namespace fotello
