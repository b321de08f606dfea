#include "agent/ScanThread.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "catalog/AlbumXMLScanner.h"
#include "loomkit/io/FileSystem.h"
#include "loomkit/shared/DirectoryWatcher.h"
#include "loomkit/shared/Log.h"
#include "protocol/AppConfig.h"

namespace fotello {

using loomkit::Error;

namespace {

constexpr double kSecondsFrom1970To2001 = 978307200.0;
// The whole-document index reader recurses once per nesting level of the index.
constexpr size_t kStackSize = 2 * 1024 * 1024;
constexpr auto kWatchLatency = std::chrono::milliseconds(1000);
constexpr auto kPresenceInterval = std::chrono::milliseconds(1000);
constexpr int64_t kAbortCode = -7;

std::string indexPathForLibrary(const std::string& library) {
  return library + (library.empty() || library.back() != '/' ? "/" : "") + "AlbumData.xml";
}

}  // namespace

// One report on its way to the main thread. The main-loop callback that delivers it shares it,
// so a report dropped at destruction leaves that callback nothing to run.
struct ScanThread::PendingReport {
  std::mutex mutex;
  std::condition_variable done;
  std::function<void()> deliver;  // guarded by mutex; taken by the callback
  bool finished = false;          // guarded by mutex
  bool cancelled = false;         // guarded by mutex
};

ScanThread::Scanner ScanThread::libraryScanner() {
  return [](const std::string& path, const AlbumData* previous, bool useSAXParser, AlbumXMLScannerDelegate& delegate,
            Error* error) {
    AlbumXMLScanner scanner(path);
    scanner.setDelegate(&delegate);
    return scanner.scan(previous, useSAXParser, error);
  };
}

ScanThread::ScanThread(Scanner scanner, Clock clock) : scanner_(std::move(scanner)), clock_(std::move(clock)) {}

ScanThread::~ScanThread() {
  std::shared_ptr<PendingReport> pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    pending = pendingReport_;
  }
  wakeUp_.notify_all();
  if (pending) {
    std::lock_guard<std::mutex> lock(pending->mutex);
    pending->cancelled = true;
    pending->done.notify_all();
  }
  if (started_) ::pthread_join(thread_, nullptr);
  stopEventStream();
  if (timerId_ && loomkit::MainLoop::main()) loomkit::MainLoop::main()->cancel(timerId_);
}

bool ScanThread::start(Error* error) {
  if (started_) return true;
  pthread_attr_t attr;
  ::pthread_attr_init(&attr);
  ::pthread_attr_setstacksize(&attr, kStackSize);
  int rc = ::pthread_create(&thread_, &attr, &ScanThread::threadMain, this);
  ::pthread_attr_destroy(&attr);
  if (rc != 0) {
    return loomkit::setUnixError(error, rc, "pthread_create: " + loomkit::systemErrorText(rc));
  }
  started_ = true;
  return true;
}

void* ScanThread::threadMain(void* self) {
  static_cast<ScanThread*>(self)->run();
  return nullptr;
}

void ScanThread::run() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!localAlbumData_ || localAlbumData_->needsRescan()) wakeUpRequested_ = true;
  }
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
    }
    pass();
  }
}

bool ScanThread::waitForWakeUp() {
  LOG_DEBUG_OBJ(this, "ScanThread entering wait");
  std::unique_lock<std::mutex> lock(mutex_);
  wakeUp_.wait(lock, [this] { return wakeUpRequested_ || stopping_; });
  if (stopping_) return false;
  lock.unlock();
  LOG_DEBUG_OBJ(this, "ScanThread leaving wait");
  return true;
}

void ScanThread::pass() {
  if (!waitForWakeUp()) return;
  std::optional<std::string> path;
  std::shared_ptr<const AlbumData> current;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wakeUpRequested_ = false;
    path = iPhotoLibraryPath_;
    current = localAlbumData_;
    localScanError_.reset();
  }
  if (!path) {
    // Without a library there is nothing to load or scan; the controller still learns that
    // there is no catalog, so the rest of the agent can start.
    LOG_INFO("no photo library configured; nothing to catalog");
    if (!current) report([](ScanThreadDelegate& d) { d.scanThreadDidLoadAlbumDataFromCache(nullptr); });
    return;
  }

  if (!current) {
    current = loadSavedCatalog(*path);
    report([current](ScanThreadDelegate& d) { d.scanThreadDidLoadAlbumDataFromCache(current); });
  }
  if (current && !current->needsRescan()) return;

  lastNotificationTime_ = paceNotification();
  report([](ScanThreadDelegate& d) { d.scanThreadWillBeginScan(); });
  {
    std::lock_guard<std::mutex> lock(mutex_);
    currentPhoto_ = totalPhotos_ = 0;
  }

  Error error;
  bool useSAXParser = appConfig_->useSAXParser();
  std::unique_ptr<AlbumData> scanned = scan(*path, current.get(), useSAXParser, &error);
  if (!scanned && useSAXParser && error.code() != kAbortCode) {
    LOG_ERROR("failed to parse AlbumData.xml; trying NSPropertyListSerialization instead");
    scanned = scan(*path, current.get(), false, &error);
  }
  if (!scanned) {
    if (error.code() == kAbortCode) {
      LOG_DEBUG_OBJ(this, "%s", error.description().c_str());
      report([](ScanThreadDelegate& d) { d.scanThreadDidAbortScan(); });
    } else {
      LOG_ERROR("rescan error: %s", error.description().c_str());
      report([error](ScanThreadDelegate& d) { d.scanThreadDidFailScan(error); });
    }
    return;
  }

  std::shared_ptr<const AlbumData> finished = std::move(scanned);
  LOG_INFO("%s", finished->description().c_str());
  lastNotificationTime_ = paceNotification();
  report([finished](ScanThreadDelegate& d) { d.scanThreadDidFinishScan(finished); });
}

std::shared_ptr<const AlbumData> ScanThread::loadSavedCatalog(const std::string& path) {
  Error error;
  std::shared_ptr<const AlbumData> saved = AlbumData::newFromCacheForIPhotoLibraryPath(path, &error);
  if (!saved) LOG_ERROR("error loading album data from cache: %s", error.description().c_str());
  if (!saved || !saved->scanDate()) {
    LOG_DEBUG_OBJ(this, "ignoring incomplete albumData cache file");
    return nullptr;
  }
  return saved;
}

std::unique_ptr<AlbumData> ScanThread::scan(const std::string& path, const AlbumData* previous, bool useSAXParser,
                                            Error* error) {
  return scanner_(path, previous, useSAXParser, *this, error);
}

bool ScanThread::albumXMLScannerShouldContinueWithCurrent(uint64_t current, uint64_t total) {
  bool wakeUpRequested;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    wakeUpRequested = wakeUpRequested_;
    currentPhoto_ = current;
    totalPhotos_ = total;
  }
  double t = now();
  if (t - lastNotificationTime_ > kNotificationInterval) {
    report([](ScanThreadDelegate& d) { d.scanThreadWillContinueScan(); });
    lastNotificationTime_ = t;
  }
  return !wakeUpRequested;
}

double ScanThread::paceNotification() {
  double t = now();
  double rest = kNotificationInterval - (t - lastNotificationTime_);
  if (rest > 0) {
    LOG_DEBUG_OBJ(this, "sleeping for %f seconds before updating TXT record", rest);
    sleepFor(rest);
    // The report goes out now: the next one is paced from here, so that reports stay at least
    // the interval apart.
    t = now();
  }
  return t;
}

void ScanThread::report(std::function<void(ScanThreadDelegate&)> fn) {
  auto pending = std::make_shared<PendingReport>();
  ScanThreadDelegate* delegate = delegate_;
  pending->deliver = [delegate, fn = std::move(fn)] { fn(*delegate); };
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    pendingReport_ = pending;
  }
  loomkit::MainLoop::main()->post([pending] {
    std::function<void()> deliver;
    {
      std::lock_guard<std::mutex> lock(pending->mutex);
      if (pending->cancelled) return;
      deliver = std::move(pending->deliver);
    }
    deliver();
    std::lock_guard<std::mutex> lock(pending->mutex);
    pending->finished = true;
    pending->done.notify_all();
  });
  {
    std::unique_lock<std::mutex> lock(pending->mutex);
    pending->done.wait(lock, [&] { return pending->finished || pending->cancelled; });
  }
  std::lock_guard<std::mutex> lock(mutex_);
  pendingReport_.reset();
}

double ScanThread::now() const {
  if (clock_.now) return clock_.now();
  auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(sinceEpoch).count() - kSecondsFrom1970To2001;
}

void ScanThread::sleepFor(double seconds) {
  if (clock_.sleep) {
    clock_.sleep(seconds);
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  wakeUp_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
}

void ScanThread::requestWakeUpLocked() {
  wakeUpRequested_ = true;
  wakeUp_.notify_all();
}

void ScanThread::setIPhotoLibraryPath(const std::optional<std::string>& path) {
  loomkit::requireMainThread();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (iPhotoLibraryPath_ && path && *iPhotoLibraryPath_ == *path) return;
  }
  stopEventStream();
  bool missing = !path || !loomkit::FileSystem::exists(*path);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    iPhotoLibraryPath_ = path;
    localAlbumData_.reset();
    requestWakeUpLocked();
    currentPhoto_ = totalPhotos_ = 0;
    rootDirWasMissing_ = missing;
  }
  if (path) startEventStream(*path);
}

void ScanThread::setLocalAlbumData(std::shared_ptr<const AlbumData> albumData) {
  std::lock_guard<std::mutex> lock(mutex_);
  localAlbumData_ = std::move(albumData);
  localScanError_.reset();
}

void ScanThread::localAlbumXMLScanDidFail(const Error& error) {
  double date = now();
  std::lock_guard<std::mutex> lock(mutex_);
  localScanError_ = error;
  localScanErrorDate_ = date;
  localAlbumData_.reset();
}

std::unique_ptr<IQVAgentStatus> ScanThread::status() const {
  if (!appConfig_) {
    LOG_ERROR("appConfig may not be nil!");
    std::abort();
  }
  std::optional<Error> scanError;
  std::optional<double> scanErrorDate;
  std::shared_ptr<const AlbumData> albumData;
  uint64_t current, total;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    scanError = localScanError_;
    scanErrorDate = localScanErrorDate_;
    albumData = localAlbumData_;
    current = currentPhoto_;
    total = totalPhotos_;
  }
  // Built outside the lock: the first digest of a large catalog takes a while.
  if (scanError) return IQVAgentStatus::newWithScanDate(scanErrorDate, scanError, *appConfig_);
  if (albumData && albumData->scanDate()) return IQVAgentStatus::newWithAlbumData(*albumData, *appConfig_);
  return IQVAgentStatus::newWithCurrentPhoto(current, total, *appConfig_);
}

uint64_t ScanThread::currentPhoto() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return currentPhoto_;
}

uint64_t ScanThread::totalPhotos() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return totalPhotos_;
}

void ScanThread::startEventStream(const std::string& path) {
  loomkit::requireMainThread();
  struct stat st;
  if (::stat(indexPathForLibrary(path).c_str(), &st) == 0) {
    // Only changes from now on count.
    localAlbumDataXMLMTimeSeconds_ = st.st_mtim.tv_sec;
    localAlbumDataXMLMTimeNanoseconds_ = st.st_mtim.tv_nsec;
  } else {
    localAlbumDataXMLMTimeSeconds_ = localAlbumDataXMLMTimeNanoseconds_ = 0;
  }
  watchEnded_ = false;
  watcher_ = std::make_unique<loomkit::DirectoryWatcher>(path, kWatchLatency,
                                                         [this, path](const std::vector<std::string>& paths) {
                                                           // The directory itself went away or moved:
                                                           // its watch ends with it.
                                                           for (const std::string& p : paths) {
                                                             if (p == path) watchEnded_ = true;
                                                           }
                                                           iPhotoLibraryFilesDidChange();
                                                         });
  Error error;
  if (!watcher_->start(&error)) {
    // A missing library is watched once the presence check sees it.
    LOG_WARN("cannot watch %s: %s", path.c_str(), error.description().c_str());
    watchEnded_ = true;
  }
  if (!timerId_) {
    timerId_ = loomkit::MainLoop::main()->addTimer(kPresenceInterval, true, [this] { timerDidFire(); });
  }
}

void ScanThread::stopEventStream() {
  if (watcher_) watcher_->stop();
  watcher_.reset();
}

void ScanThread::iPhotoLibraryFilesDidChange() {
  std::optional<std::string> library;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    library = iPhotoLibraryPath_;
  }
  if (!library) return;
  std::string index = indexPathForLibrary(*library);
  struct stat st;
  if (::stat(index.c_str(), &st) == 0) {
    if (st.st_mtim.tv_sec <= localAlbumDataXMLMTimeSeconds_) return;
    localAlbumDataXMLMTimeSeconds_ = st.st_mtim.tv_sec;
    localAlbumDataXMLMTimeNanoseconds_ = st.st_mtim.tv_nsec;
    LOG_DEBUG_OBJ(this, "AlbumData.xml changed");
  } else {
    int e = errno;
    if (e != ENOENT) LOG_ERROR("%s: %s", index.c_str(), loomkit::systemErrorText(e).c_str());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  requestWakeUpLocked();
}

void ScanThread::timerDidFire() {
  std::optional<std::string> library;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    library = iPhotoLibraryPath_;
  }
  if (!library) return;
  bool missing = !loomkit::FileSystem::exists(*library);
  // A library folder that is back (or was replaced between two checks) gets a new watch, and
  // whatever it now holds is looked at.
  bool renewWatch = !missing && watchEnded_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (missing != rootDirWasMissing_ || renewWatch) {
      LOG_DEBUG_OBJ(this, "%s %s", library->c_str(), missing ? "disappeared" : "appeared");
      requestWakeUpLocked();
    }
    rootDirWasMissing_ = missing;
  }
  if (renewWatch) {
    stopEventStream();
    startEventStream(*library);
  }
}

}  // namespace fotello
