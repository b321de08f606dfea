#include "sync/AutoSyncComputerList.h"

#include "loomkit/http/NetServices.h"
#include "loomkit/io/FileSystem.h"
#include "loomkit/shared/Log.h"
#include "loomkit/shared/MainLoop.h"
#include "loomkit/shared/NetServiceDescriptions.h"
#include "protocol/SyncComputerRecord.h"

namespace fotello {

using loomkit::Bytes;
using loomkit::Error;
using loomkit::NetService;

namespace {

void requireMainThread() {
  loomkit::MainLoop* loop = loomkit::MainLoop::main();
  if (!loop || !loop->isMainThread()) {
    LOG_ERROR("must be on main thread!");
    std::abort();
  }
}

}  // namespace

AutoSyncComputerList::AutoSyncComputerList(loomkit::DNSServiceRegistry& registry,
                                           AutoSyncComputerListDelegate* delegate)
    : registry_(registry), delegate_(delegate) {}

AutoSyncComputerList::~AutoSyncComputerList() {
  watcher_.reset();
  netServiceBrowser_.reset();
  for (const auto& service : netServices_) {
    service->stop();
    service->setDelegate(nullptr);
  }
}

void AutoSyncComputerList::start() {
  requireMainThread();
  if (started_) return;
  started_ = true;
  startWatching();
  netServiceBrowser_ = registry_.newBrowser(loomkit::NetServices::serviceType(), this);
  Error error;
  if (auto saved = loadSavedComputers(&error)) {
    std::lock_guard<std::mutex> lock(savedMutex_);
    savedComputersByUUID_ = std::move(*saved);
  } else {
    LOG_ERROR("error loading saved computers: %s", error.description().c_str());
  }
}

void AutoSyncComputerList::startWatching() {
  const std::string dir = SyncComputerRecord::configuredSyncComputersDir();
  Error error;
  // The directory the desktop application writes into may not exist yet; an empty one changes
  // nothing for it and lets the watch see the first record.
  if (!loomkit::FileSystem::ensureParentPathExistsForPath(dir + "/.", &error)) {
    LOG_ERROR("error creating %s: %s", dir.c_str(), error.description().c_str());
  }
  watcher_ = std::make_unique<loomkit::DirectoryWatcher>(
      dir, kDirectoryLatency, [this](const std::vector<std::string>& paths) { directoryDidChange(paths); });
  if (!watcher_->start(&error)) {
    LOG_ERROR("error watching %s: %s", dir.c_str(), error.description().c_str());
  }
}

void AutoSyncComputerList::directoryDidChange(const std::vector<std::string>& paths) {
  savedComputersDidChange();
  // The directory itself went away or was replaced: the watch has ended with it. Watch anew,
  // outside the watcher's own callback.
  const std::string& dir = watcher_->directory();
  bool directoryChanged = false;
  for (const std::string& path : paths) directoryChanged = directoryChanged || path == dir;
  if (!directoryChanged) return;
  loomkit::DirectoryWatcher* current = watcher_.get();
  loomkit::MainLoop::main()->post([this, current, alive = std::weak_ptr<int>(alive_)] {
    if (alive.expired() || watcher_.get() != current) return;
    startWatching();
    savedComputersDidChange();
  });
}

std::optional<SavedComputer> AutoSyncComputerList::savedComputerForUUID(const std::string& uuid) const {
  std::lock_guard<std::mutex> lock(savedMutex_);
  auto it = savedComputersByUUID_.find(uuid);
  if (it == savedComputersByUUID_.end()) return std::nullopt;
  return it->second;
}

bool AutoSyncComputerList::isSaved(const std::string& uuid) const {
  std::lock_guard<std::mutex> lock(savedMutex_);
  return savedComputersByUUID_.contains(uuid);
}

std::optional<std::map<std::string, SavedComputer>> AutoSyncComputerList::loadSavedComputers(Error* error) {
  auto records = SyncComputerRecord::storedRecords(error);
  if (!records) return std::nullopt;
  std::map<std::string, SavedComputer> saved;
  for (const SyncComputerRecord& record : *records) {
    if (auto computer = SavedComputer::fromRecord(record)) saved.insert_or_assign(computer->uuid(), *computer);
  }
  return saved;
}

void AutoSyncComputerList::savedComputersDidChange() {
  requireMainThread();
  Error error;
  auto fresh = loadSavedComputers(&error);
  if (!fresh) {
    LOG_ERROR("error loading saved computers: %s", error.description().c_str());
    return;
  }
  std::map<std::string, SavedComputer> current;
  {
    std::lock_guard<std::mutex> lock(savedMutex_);
    current = savedComputersByUUID_;
  }
  // Events go out with the map already updated, so a delegate that asks savedComputerForUUID
  // sees the settings the event is about.
  {
    std::lock_guard<std::mutex> lock(savedMutex_);
    savedComputersByUUID_ = *fresh;
  }
  for (const auto& [uuid, saved] : current) {
    if (fresh->contains(uuid)) continue;
    if (auto live = liveComputersByUUID_.find(uuid); live != liveComputersByUUID_.end() && delegate_) {
      delegate_->autoSyncComputerWasRemoved(autoSyncComputerFor(live->second));
    }
  }
  for (const auto& [uuid, saved] : *fresh) {
    auto old = current.find(uuid);
    auto live = liveComputersByUUID_.find(uuid);
    if (live == liveComputersByUUID_.end() || !delegate_) continue;
    if (old == current.end()) {
      delegate_->autoSyncComputerWasAdded(autoSyncComputerFor(live->second));
    } else if (!old->second.isEqualToSavedComputer(saved)) {
      delegate_->autoSyncComputerConfigDidChange(autoSyncComputerFor(live->second));
    }
  }
}

AutoSyncComputer AutoSyncComputerList::autoSyncComputerFor(const LiveComputer& live) {
  return AutoSyncComputer(live.uuid(), live.computerName(), live.netService());
}

void AutoSyncComputerList::serviceBrowserDidFindService(const std::shared_ptr<NetService>& service) {
  netServices_.insert(service);
  LOG_DEBUG("found net service %s", service->name().c_str());
  service->setDelegate(this);
  service->resolveWithTimeout(kResolveTimeout);
}

void AutoSyncComputerList::netServiceDidResolveAddress(const std::shared_ptr<NetService>& service) {
  Bytes txt = service->txtRecordData();
  if (!txt.empty()) netServiceDidUpdateTXTRecordData(service, txt);
  service->startMonitoring();
  LOG_DEBUG("started monitoring of %s", service->name().c_str());
}

void AutoSyncComputerList::netServiceDidNotResolve(const std::shared_ptr<NetService>& service, const Error& error) {
  LOG_ERROR("error resolving net service '%s': error domain=%s code=%d description=%s", service->name().c_str(),
            error.domain().c_str(), static_cast<int>(error.code()),
            std::string(loomkit::NetServiceDescriptions::descriptionForNetServicesError(error.code())).c_str());
  netServices_.erase(service);
}

void AutoSyncComputerList::netServiceDidUpdateTXTRecordData(const std::shared_ptr<NetService>& service,
                                                            const Bytes& data) {
  LOG_DEBUG("NSNetService %s updated TXT record", service->name().c_str());
  if (data.empty()) return;
  if (data.size() == 1) {
    LOG_INFO("ignoring %lu-byte TXT record", static_cast<unsigned long>(data.size()));
    return;
  }
  Error error;
  auto status = IQVAgentStatus::newWithTXTRecordData(data, &error);
  if (!status) {
    LOG_ERROR("error parsing TXT record: %s", error.description().c_str());
    if (errorNetServices_.insert(service).second && delegate_) {
      delegate_->autoSyncComputerListShouldNotify(
          "Communication error", "Error reading status from " + service->name() + ": " + error.description(),
          "StatusReadError");
    }
    return;
  }
  errorNetServices_.erase(service);
  const std::string& uuid = status->uuid();
  const bool saved = isSaved(uuid);
  auto live = liveComputersByUUID_.find(uuid);
  if (live == liveComputersByUUID_.end()) {
    live = liveComputersByUUID_.emplace(uuid, LiveComputer(service, *status)).first;
    if (saved && delegate_) delegate_->autoSyncComputerWasAdded(autoSyncComputerFor(live->second));
  }
  if (saved && delegate_) delegate_->autoSyncComputerTXTRecordDidChange(autoSyncComputerFor(live->second));
}

void AutoSyncComputerList::serviceBrowserDidRemoveService(const std::shared_ptr<NetService>& service) {
  // The handle is dead from now on: forget it whether or not it became a live computer.
  netServices_.erase(service);
  errorNetServices_.erase(service);
  service->setDelegate(nullptr);
  auto live = liveComputersByUUID_.begin();
  while (live != liveComputersByUUID_.end() && live->second.netService() != service) ++live;
  if (live == liveComputersByUUID_.end()) {
    LOG_ERROR("net service %s not found in liveComputersByUUID!", service->name().c_str());
    return;
  }
  const AutoSyncComputer computer = autoSyncComputerFor(live->second);
  const bool saved = isSaved(computer.uuid());
  liveComputersByUUID_.erase(live);
  if (saved && delegate_) delegate_->autoSyncComputerWasRemoved(computer);
  LOG_DEBUG("%s went away", service->name().c_str());
}

void AutoSyncComputerList::serviceBrowserDidNotSearch(const Error& error) {
  LOG_ERROR("net service search failed; error code %lld", static_cast<long long>(error.code()));
}

}  // namespace fotello
