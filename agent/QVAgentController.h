// The agent's top: launch sequence, single-instance lock, configuration and its reactions, and the
// watch for the removal of the agent's own executable.
#pragma once

#include <memory>
#include <string>

#include "loomkit/shared/MainLoop.h"
#include "protocol/AppConfig.h"

namespace fotello {

// Main thread only: every operation runs on the main loop (MainLoop::main()).
class QVAgentController {
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
  void ensureBundleExists();
  void terminate(int status);

  // Constant after construction.
  const std::string bundlePath_;

  // Main thread only.
  std::unique_ptr<AppConfig> appConfig_;
  loomkit::MainLoop::Id bundleTimer_ = 0;
  bool terminating_ = false;
};

}  // namespace fotello
