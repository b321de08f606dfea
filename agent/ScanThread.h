// The cataloging thread: keeps the agent's catalog of the local photo library current. It sleeps
// until a scan is asked for, loads the saved catalog at first, rescans the library index whenever
// it changed, and reports every step to its delegate on the main thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <pthread.h>

#include "catalog/AlbumData.h"
#include "catalog/AlbumXMLScannerDelegate.h"
#include "loomkit/shared/Error.h"
#include "loomkit/shared/MainLoop.h"
#include "protocol/IQVAgentStatus.h"

namespace loomkit {
class DirectoryWatcher;
}

namespace fotello {

class AppConfig;

// The receiver of the cataloging thread's reports. Each report runs on the main thread while the
// cataloging thread waits for it to return, so reports never overlap.
class ScanThreadDelegate {
 public:
  virtual ~ScanThreadDelegate() = default;
  // The saved catalog at the first pass, or nullptr when there is no complete one.
  virtual void scanThreadDidLoadAlbumDataFromCache(std::shared_ptr<const AlbumData> albumData) = 0;
  virtual void scanThreadWillBeginScan() = 0;
  // Progress of a running scan, at most every 6 seconds.
  virtual void scanThreadWillContinueScan() = 0;
  virtual void scanThreadDidFinishScan(std::shared_ptr<const AlbumData> albumData) = 0;
  // A change stopped the scan; a new pass follows at once.
  virtual void scanThreadDidAbortScan() = 0;
  virtual void scanThreadDidFailScan(const loomkit::Error& error) = 0;
};

// Three threads use one object: the cataloging thread (run, the scanner's questions), the main
// thread (setters, watch, presence timer, reports) and any thread asking for status(). The lock
// "ScanThread lock" (mutex_) guards the fields so marked; it is never held while a report is
// delivered or while scanning. The delegate, configuration, scanner and clock are set on the main
// thread before start() and constant afterwards. Create, start and destroy it on the main thread.
class ScanThread final : private AlbumXMLScannerDelegate {
 public:
  // Catalogs the library at iPhotoLibraryPath, reusing what the previous catalog (or nullptr)
  // knows, with the event-driven index parser when useSAXParser is true, else the whole-document
  // reader, asking the delegate before each photo. An abort the delegate asks for fails with code
  // -7; nullptr on failure.
  using Scanner = std::function<std::unique_ptr<AlbumData>(const std::string& iPhotoLibraryPath,
                                                           const AlbumData* previous, bool useSAXParser,
                                                           AlbumXMLScannerDelegate& delegate,
                                                           loomkit::Error* error)>;
  // Time as the pacing of reports sees it: now() in seconds since 2001-01-01 00:00:00 UTC, and a
  // sleep of the given seconds. Empty functions mean the system clock and a sleep that ends early
  // only when the object is destroyed.
  struct Clock {
    std::function<double()> now;
    std::function<void(double seconds)> sleep;
  };

  // The reports that change the published record (begin, progress, finish) are this far apart.
  static constexpr double kNotificationInterval = 6.0;

  // The library index scanner of the catalog code.
  static Scanner libraryScanner();

  explicit ScanThread(Scanner scanner = libraryScanner(), Clock clock = {});
  // Stops the thread: a running scan ends at its next photo, a report in delivery is dropped.
  ~ScanThread();
  ScanThread(const ScanThread&) = delete;
  ScanThread& operator=(const ScanThread&) = delete;

  // Set on the main thread before start(): the delegate is not owned, the configuration neither;
  // both must outlive this object.
  void setDelegate(ScanThreadDelegate* delegate) { delegate_ = delegate; }
  void setAppConfig(AppConfig* appConfig) { appConfig_ = appConfig; }

  // Main thread. A path other than the current one restarts the library watch on it, drops the
  // current catalog and asks for a scan. An absent path leaves the thread without a library.
  void setIPhotoLibraryPath(const std::optional<std::string>& path);
  // Main thread: the catalog the controller took; clears the scan error.
  void setLocalAlbumData(std::shared_ptr<const AlbumData> albumData);
  // Main thread: records the failure with the time now and drops the current catalog.
  void localAlbumXMLScanDidFail(const loomkit::Error& error);

  // Any thread: the failed-scan record while an error stands, else the complete catalog's, else
  // the running scan's progress. The configuration must be set.
  std::unique_ptr<IQVAgentStatus> status() const;
  uint64_t currentPhoto() const;
  uint64_t totalPhotos() const;

  // Starts the cataloging thread (once), on a stack large enough for the whole-document reader.
  bool start(loomkit::Error* error = nullptr);

  // Main thread: the library watch's reaction to a change in the library directory.
  void iPhotoLibraryFilesDidChange();
  // Main thread: the one-second presence check of the library directory.
  void timerDidFire();

 private:
  static void* threadMain(void* self);
  // The thread body: one pass after another until the object is destroyed.
  void run();
  void pass();
  // Waits until a wake-up is requested; false when the object is being destroyed.
  bool waitForWakeUp();
  // The saved catalog of the library when it is complete, else nullptr (logged).
  std::shared_ptr<const AlbumData> loadSavedCatalog(const std::string& path);
  std::unique_ptr<AlbumData> scan(const std::string& path, const AlbumData* previous, bool useSAXParser,
                                  loomkit::Error* error);
  // The scanner's question before each photo: records the progress, reports it at most every
  // 6 seconds, and answers false once a wake-up was requested.
  bool albumXMLScannerShouldContinueWithCurrent(uint64_t current, uint64_t total) override;
  // Sleeps out the rest of the interval since the last report that changed the record; returns
  // the time taken before sleeping.
  double paceNotification();
  // Runs fn with the delegate on the main thread and waits for it; returns at once, dropping the
  // report, when the object is being destroyed.
  void report(std::function<void(ScanThreadDelegate&)> fn);
  double now() const;
  void sleepFor(double seconds);
  void requestWakeUpLocked();

  void startEventStream(const std::string& path);
  void stopEventStream();

  // Set before start(), constant afterwards.
  ScanThreadDelegate* delegate_ = nullptr;
  AppConfig* appConfig_ = nullptr;
  const Scanner scanner_;
  const Clock clock_;

  // Cataloging thread only.
  double lastNotificationTime_ = -1e18;

  // Main thread only.
  int64_t localAlbumDataXMLMTimeSeconds_ = 0;
  int64_t localAlbumDataXMLMTimeNanoseconds_ = 0;
  std::unique_ptr<loomkit::DirectoryWatcher> watcher_;
  bool watchEnded_ = false;  // the watch could not start or its directory went away
  loomkit::MainLoop::Id timerId_ = 0;
  bool started_ = false;
  pthread_t thread_{};

  mutable std::mutex mutex_;  // "ScanThread lock"
  std::condition_variable wakeUp_;
  // Guarded by mutex_.
  std::shared_ptr<const AlbumData> localAlbumData_;
  std::optional<loomkit::Error> localScanError_;
  std::optional<double> localScanErrorDate_;
  std::optional<std::string> iPhotoLibraryPath_;
  bool wakeUpRequested_ = false;
  uint64_t currentPhoto_ = 0;
  uint64_t totalPhotos_ = 0;
  bool rootDirWasMissing_ = false;
  bool stopping_ = false;
  // The report being delivered; shared with the main-loop callback that runs it, which may
  // outlive this object.
  struct PendingReport;
  std::shared_ptr<PendingReport> pendingReport_;
};

}  // namespace fotello
