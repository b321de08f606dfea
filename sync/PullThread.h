// The agent's worker that fetches new photos from automatic peers: a to-do list of peers that may
// have something new, fed by the automatic peer list's events, worked through one peer at a time
// with a retriever, and reported to the agent controller.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "catalog/AlbumData.h"
#include "loomkit/shared/CancellableMainThreadCalls.h"
#include "loomkit/shared/Error.h"
#include "protocol/AppConfig.h"
#include "protocol/SavedComputer.h"
#include "sync/AutoSyncComputer.h"
#include "sync/AutoSyncComputerList.h"
#include "sync/PhotoRetriever.h"
#include "sync/PullThreadDelegate.h"

namespace fotello {

// Threads: the main thread configures the object, hands over catalogs and sends the peer list's
// events; run() is the pull thread (start() makes it); the delegate reports run on the main thread
// while the pull thread waits for them.
//
// "PullThread lock" (mutex_) guards the local catalog and its library path, the restart flag, the
// to-do list, the stop flag and the reports waiting for the main thread; it is held for a few
// statements only, never while sleeping, pulling, importing or reporting. The two sets of peers in
// trouble belong to the pull thread alone. The delegate, the configuration, the saved-settings
// lookup, the retriever factory, the notification handler and the timing are set before start()
// and constant afterwards. Create and destroy the object on the main thread; the destructor stops
// run() and waits for it (a retriever's photo in progress is finished first).
class PullThread final : public AutoSyncComputerListDelegate, public PhotoRetrieverDelegate {
 public:
  struct Timing {
    // Between two looks at the to-do list and the catalog while there is nothing to do.
    std::chrono::milliseconds waitInterval{500};
    // Before a peer whose last pass failed.
    std::chrono::milliseconds troubleBackOff{5000};
  };
  using SavedComputerLookup = std::function<std::optional<SavedComputer>(const std::string& uuid)>;
  using NotificationHandler =
      std::function<void(const std::string& title, const std::string& description, const std::string& name)>;

  // factory makes the retriever of each peer's pass; without one every pass fails with
  // "PullThreadErrorDomain" -1.
  explicit PullThread(PhotoRetrieverFactory factory = {});
  PullThread(PhotoRetrieverFactory factory, Timing timing);
  ~PullThread() override;
  PullThread(const PullThread&) = delete;
  PullThread& operator=(const PullThread&) = delete;

  // Before start(). None of them is owned; each must outlive this object's thread.
  void setDelegate(PullThreadDelegate* delegate) { delegate_ = delegate; }
  void setAppConfig(AppConfig* appConfig) { appConfig_ = appConfig; }
  // Where a peer's saved settings come from (any thread may call it).
  void setSavedComputerLookup(SavedComputerLookup lookup) { savedComputerLookup_ = std::move(lookup); }
  // Asks list for the saved settings.
  void setAutoSyncComputerList(const AutoSyncComputerList* list);
  // Receives the peer list's desktop notifications, on the main thread.
  void setNotificationHandler(NotificationHandler handler) { notificationHandler_ = std::move(handler); }

  // Main thread: a new local catalog (nullptr: none) of the library at path; restarts the pass.
  void setLocalAlbumData(std::shared_ptr<const AlbumData> albumData, std::string localIPhotoLibraryPath);
  // Main thread: the scan failed, so there is no local catalog until the next one; restarts the pass.
  void localAlbumXMLScanDidFail(const loomkit::Error& error);

  // Runs run() on a thread of this object's own, which the destructor joins. Once.
  void start();
  // The pull loop: waits for work, runs a pass over the to-do list, reports its result; returns
  // only after stop().
  void run();
  // Any thread: ends run() at the next step (after the retriever call in progress) and cancels the
  // reports waiting for the main thread. Final.
  void stop();

  // For tests and reports: the to-do list's peer names, first first.
  std::vector<std::string> toDoComputerNames() const;

  // AutoSyncComputerListDelegate, main thread.
  void autoSyncComputerWasAdded(const AutoSyncComputer& computer) override;
  void autoSyncComputerWasRemoved(const AutoSyncComputer& computer) override;
  void autoSyncComputerConfigDidChange(const AutoSyncComputer& computer) override;
  void autoSyncComputerTXTRecordDidChange(const AutoSyncComputer& computer) override;
  void autoSyncComputerListShouldNotify(const std::string& title, const std::string& description,
                                        const std::string& notificationName) override;

  // PhotoRetrieverDelegate: forwarded to the delegate. On the main thread it is passed on at
  // once; from the pull thread it is reported like the loop's own reports.
  void autoPhotoRetrieverPulled(uint64_t index, uint64_t total, const AutoSyncComputer& computer) override;

 private:

  // Sleeps until the to-do list has a peer and a local catalog is present; false once stopping.
  bool waitForWork();
  // One pass over the to-do list: the photos imported from each peer that completed, by name.
  std::map<std::string, uint64_t> runPass();
  // The restart flag, read under the lock.
  bool restartRequested() const;
  bool stopping() const;
  // A new status or settings of a peer: restart it when it is first, append it when missing.
  void peerDidChange(const AutoSyncComputer& computer);
  // Runs fn on the main thread and waits for it; false (fn not run) when stop() came first.
  bool reportOnMainThread(std::function<void(PullThreadDelegate&)> fn);
  // Sleeps up to duration, less when stop() is called; false once stopping.
  bool pause(std::chrono::milliseconds duration);

  // Constant after start().
  const PhotoRetrieverFactory factory_;
  const Timing timing_;
  PullThreadDelegate* delegate_ = nullptr;
  AppConfig* appConfig_ = nullptr;
  SavedComputerLookup savedComputerLookup_;
  NotificationHandler notificationHandler_;
  std::thread thread_;  // start()'s thread; main thread only

  // Pull thread only.
  std::set<std::string> notifiedAccessDeniedComputerNames_;
  std::set<std::string> errorComputerNames_;

  mutable std::mutex mutex_;  // "PullThread lock"
  std::condition_variable changed_;  // stopping
  // Guarded by mutex_.
  std::shared_ptr<const AlbumData> localAlbumData_;
  std::string localIPhotoLibraryPath_;
  bool restartRequested_ = false;
  std::vector<AutoSyncComputer> autoSyncComputersToProcess_;
  bool stopping_ = false;
  loomkit::CancellableMainThreadCalls mainThreadCalls_;  // the reports; cancelled by stop()
};

}  // namespace fotello
