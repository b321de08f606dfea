#include "sync/PullThread.h"

#include <algorithm>

#include "loomkit/shared/Log.h"
#include "loomkit/shared/MainLoop.h"
#include "protocol/IQVData.h"

namespace fotello {

using loomkit::Error;

namespace {

constexpr const char* kPullThreadErrorDomain = "PullThreadErrorDomain";
// The code of an exact read that met the end of the stream: the peer went away mid-answer, which
// the retriever's retries already dealt with, so the user hears nothing of it.
constexpr int64_t kEndOfStreamCode = -4;
constexpr uint64_t kDefaultMinFreeDiskSpaceGB = 10;

}  // namespace

PullThread::PullThread(PhotoRetrieverFactory factory) : PullThread(std::move(factory), Timing{}) {}

PullThread::PullThread(PhotoRetrieverFactory factory, Timing timing)
    : factory_(std::move(factory)), timing_(timing) {}

PullThread::~PullThread() {
  stop();
  if (thread_.joinable()) thread_.join();
}

void PullThread::setAutoSyncComputerList(const AutoSyncComputerList* list) {
  if (!list) {
    savedComputerLookup_ = nullptr;
    return;
  }
  savedComputerLookup_ = [list](const std::string& uuid) { return list->savedComputerForUUID(uuid); };
}

void PullThread::setLocalAlbumData(std::shared_ptr<const AlbumData> albumData, std::string localIPhotoLibraryPath) {
  std::lock_guard lock(mutex_);
  localAlbumData_ = std::move(albumData);
  localIPhotoLibraryPath_ = std::move(localIPhotoLibraryPath);
  restartRequested_ = true;
}

void PullThread::localAlbumXMLScanDidFail(const Error&) {
  std::lock_guard lock(mutex_);
  localAlbumData_.reset();
  restartRequested_ = true;
}

void PullThread::start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] { run(); });
}

void PullThread::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  mainThreadCalls_.cancelAll();
}

bool PullThread::stopping() const {
  std::lock_guard lock(mutex_);
  return stopping_;
}

bool PullThread::restartRequested() const {
  std::lock_guard lock(mutex_);
  return restartRequested_;
}

bool PullThread::pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, duration, [this] { return stopping_; });
  return !stopping_;
}

std::vector<std::string> PullThread::toDoComputerNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& computer : autoSyncComputersToProcess_) names.push_back(computer.computerName());
  return names;
}

// ---- The peer list's events ----

void PullThread::autoSyncComputerWasAdded(const AutoSyncComputer& computer) {
  std::lock_guard lock(mutex_);
  LOG_DEBUG("%s was added; adding to to-do list", computer.description().c_str());
  autoSyncComputersToProcess_.push_back(computer);
}

void PullThread::autoSyncComputerWasRemoved(const AutoSyncComputer& computer) {
  LOG_DEBUG("%s was removed", computer.description().c_str());
  std::lock_guard lock(mutex_);
  auto it = std::find(autoSyncComputersToProcess_.begin(), autoSyncComputersToProcess_.end(), computer);
  if (it == autoSyncComputersToProcess_.end()) return;
  LOG_DEBUG("removing %s from to-do list", computer.description().c_str());
  autoSyncComputersToProcess_.erase(it);
}

void PullThread::autoSyncComputerConfigDidChange(const AutoSyncComputer& computer) {
  LOG_DEBUG("%s config did change", computer.description().c_str());
  peerDidChange(computer);
}

void PullThread::autoSyncComputerTXTRecordDidChange(const AutoSyncComputer& computer) {
  LOG_DEBUG("%s TXT record did change", computer.description().c_str());
  peerDidChange(computer);
}

void PullThread::peerDidChange(const AutoSyncComputer& computer) {
  std::lock_guard lock(mutex_);
  auto it = std::find(autoSyncComputersToProcess_.begin(), autoSyncComputersToProcess_.end(), computer);
  if (it == autoSyncComputersToProcess_.begin() && it != autoSyncComputersToProcess_.end()) {
    // The peer in progress (or next): its pass starts over with what it announced now.
    LOG_DEBUG("requesting restart of %s", computer.description().c_str());
    restartRequested_ = true;
  } else if (it == autoSyncComputersToProcess_.end()) {
    LOG_DEBUG("adding %s to to-do list", computer.description().c_str());
    autoSyncComputersToProcess_.push_back(computer);
  }
  // Further down the list: it is pulled with its new status when its turn comes.
}

void PullThread::autoSyncComputerListShouldNotify(const std::string& title, const std::string& description,
                                                  const std::string& notificationName) {
  if (notificationHandler_) notificationHandler_(title, description, notificationName);
}

void PullThread::autoPhotoRetrieverPulled(uint64_t index, uint64_t total, const AutoSyncComputer& computer) {
  loomkit::MainLoop* loop = loomkit::MainLoop::main();
  if (!loop || loop->isMainThread()) {
    if (delegate_) delegate_->pullThreadPulled(index, total, computer);
    return;
  }
  reportOnMainThread([index, total, computer](PullThreadDelegate& delegate) {
    delegate.pullThreadPulled(index, total, computer);
  });
}

// ---- The loop ----

bool PullThread::reportOnMainThread(std::function<void(PullThreadDelegate&)> fn) {
  PullThreadDelegate* delegate = delegate_;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    if (!delegate) return true;
  }
  // stop() may end the wait: the destructor runs on the main thread and must not wait for a pull
  // thread that waits for it.
  return mainThreadCalls_.performAndWait([fn = std::move(fn), delegate] { fn(*delegate); });
}

void PullThread::run() {
  while (waitForWork()) {
    std::map<std::string, uint64_t> photosByComputerName = runPass();
    if (stopping()) break;
    if (!photosByComputerName.empty()) {
      reportOnMainThread([photosByComputerName](PullThreadDelegate& delegate) {
        delegate.pullThreadComputersWereProcessed(photosByComputerName);
      });
    }
  }
}

bool PullThread::waitForWork() {
  bool slept = false;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return false;
      if (!autoSyncComputersToProcess_.empty() && localAlbumData_) break;
    }
    if (!slept) LOG_DEBUG("PullThread entering wait");
    slept = true;
    if (!pause(timing_.waitInterval)) return false;
  }
  if (slept) LOG_DEBUG("PullThread leaving wait");
  return true;
}

std::map<std::string, uint64_t> PullThread::runPass() {
  std::map<std::string, uint64_t> photosByComputerName;
  for (;;) {
    std::optional<AutoSyncComputer> computer;
    std::shared_ptr<const AlbumData> albumData;
    std::string libraryPath;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return photosByComputerName;
      restartRequested_ = false;
      if (autoSyncComputersToProcess_.empty()) return photosByComputerName;
      computer = autoSyncComputersToProcess_.front();
      albumData = localAlbumData_;
      libraryPath = localIPhotoLibraryPath_;
    }
    const std::string name = computer->computerName();

    // A peer in trouble gets a breather, so that one failing peer does not keep the loop spinning.
    if (notifiedAccessDeniedComputerNames_.count(name) || errorComputerNames_.count(name)) {
      if (!pause(timing_.troubleBackOff)) return photosByComputerName;
    }
    if (restartRequested() || !albumData) {
      // A catalog dropped after the pass began (a failed scan) restarts it too: the wait ahead
      // holds the loop until the next one.
      LOG_INFO("PullThread restarting");
      return photosByComputerName;
    }
    if (!reportOnMainThread([name](PullThreadDelegate& d) { d.pullThreadWillProcessComputer(name); })) {
      return photosByComputerName;
    }

    uint64_t imported = 0;
    bool failed = false;
    Error failure;
    std::optional<SavedComputer> saved =
        savedComputerLookup_ ? savedComputerLookup_(computer->uuid()) : std::nullopt;
    if (!saved) {
      LOG_ERROR("missing SavedComputer for %s!", computer->description().c_str());
    } else {
      PhotoRetrieverRequest request{libraryPath, albumData, *computer, *saved, appConfig_, this};
      std::unique_ptr<PhotoRetriever> retriever = factory_ ? factory_(request) : nullptr;
      if (!retriever) {
        failed = true;
        loomkit::setError(&failure, kPullThreadErrorDomain, -1, "no photo retriever");
      } else if (!retriever->initialize(&failure)) {
        failed = true;
      } else {
        while (retriever->hasRemainingItems() && computer->netService()) {
          // Read anew before every photo, so that a change applies at once.
          int32_t minimum = appConfig_ ? appConfig_->minFreeDiskSpaceGB()
                                       : static_cast<int32_t>(kDefaultMinFreeDiskSpaceGB);
          retriever->setMinFreeDiskSpaceGB(minimum > 0 ? static_cast<uint64_t>(minimum) : 0);
          if (restartRequested() || stopping()) break;  // not a failure
          if (!retriever->pullNextItem(&failure)) {
            LOG_DEBUG("pullNextItem failed");
            failed = true;
            break;
          }
        }
      }
      if (!reportOnMainThread([name](PullThreadDelegate& d) { d.pullThreadDidProcessComputer(name); })) {
        if (retriever) retriever->cleanUp();
        return photosByComputerName;
      }
      if (retriever && retriever->pulledPhotosCount() > 0) {
        Error importError;
        if (!retriever->importItemsIntoIPhoto(&importError)) {
          std::string message = "Error importing photos: " + importError.description();
          reportOnMainThread([message](PullThreadDelegate& d) { d.pullThreadError(message); });
        }
      }
      imported = retriever ? retriever->itemsImportedCount() : 0;
      LOG_INFO("pulled %lu items from %s", static_cast<unsigned long>(imported), name.c_str());
      if (retriever) retriever->cleanUp();
      if (stopping()) return photosByComputerName;
      if (restartRequested()) {
        LOG_INFO("restarting");
        return photosByComputerName;
      }

      if (!failed) {
        notifiedAccessDeniedComputerNames_.erase(name);
        errorComputerNames_.erase(name);
      } else if (failure.is(IQVData::httpErrorDomain(), 403)) {
        LOG_ERROR("access denied by %s: %s", name.c_str(), failure.description().c_str());
        if (!notifiedAccessDeniedComputerNames_.count(name)) {
          reportOnMainThread([name](PullThreadDelegate& d) { d.pullThreadAccessWasDeniedTo(name); });
          notifiedAccessDeniedComputerNames_.insert(name);
        }
      } else {
        if (!errorComputerNames_.count(name)) {
          if (failure.code() != kEndOfStreamCode) {
            std::string message = "Error retrieving items from " + name + ": " + failure.description();
            reportOnMainThread([message](PullThreadDelegate& d) { d.pullThreadError(message); });
          }
          errorComputerNames_.insert(name);
        }
        LOG_ERROR("error pulling missing photos: %s", failure.description().c_str());
      }
    }

    std::lock_guard lock(mutex_);
    if (stopping_ || restartRequested_) return photosByComputerName;
    auto it = std::find(autoSyncComputersToProcess_.begin(), autoSyncComputersToProcess_.end(), *computer);
    if (it == autoSyncComputersToProcess_.end()) continue;  // removed meanwhile: neither counted nor re-queued
    photosByComputerName[name] = imported;
    LOG_DEBUG("removed %s from to-do list at index %lu", computer->description().c_str(),
              static_cast<unsigned long>(it - autoSyncComputersToProcess_.begin()));
    autoSyncComputersToProcess_.erase(it);
    if (failed) {
      autoSyncComputersToProcess_.push_back(*computer);
      LOG_DEBUG("re-added %s to the end of the list", computer->description().c_str());
    }
  }
}

}  // namespace fotello
