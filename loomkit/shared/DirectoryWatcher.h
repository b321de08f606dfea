// Watches one directory with inotify and reports changes inside it on the main loop, coalesced:
// the first change after a quiet spell is reported at once, and further changes within the
// latency are gathered and reported together when it has passed.
#pragma once

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "loomkit/shared/Error.h"
#include "loomkit/shared/MainLoop.h"

namespace loomkit {

// Main thread only: created, started, stopped and destroyed there, and the callback runs there.
class DirectoryWatcher {
 public:
  // paths: the full paths of the entries that changed (the directory itself when it was removed
  // or moved), each once, sorted.
  using Callback = std::function<void(const std::vector<std::string>& paths)>;

  DirectoryWatcher(std::string directory, std::chrono::milliseconds latency, Callback callback);
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // Starts watching on MainLoop::main(). Fails with a UnixErrorDomain error when the directory
  // cannot be watched (for instance because it does not exist).
  bool start(Error* error = nullptr);
  void stop();
  const std::string& directory() const { return directory_; }

 private:
  void readEvents();
  void changed(std::string path);
  void deliver();

  // Constant after construction.
  const std::string directory_;
  const std::chrono::milliseconds latency_;
  const Callback callback_;

  // Main thread only.
  int fd_ = -1;
  MainLoop::Id watchId_ = 0;
  MainLoop::Id timerId_ = 0;
  std::chrono::steady_clock::time_point lastDelivery_{};
  std::set<std::string> pending_;
};

}  // namespace loomkit
