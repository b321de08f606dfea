// The automatic peers: those that are both on the network with a readable status (live computers)
// and have a saved record (saved computers). The list tells its delegate whenever a peer becomes
// automatic or stops being one, its saved settings change, or it announces a new status.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "loomkit/http/DNSServiceRegistry.h"
#include "loomkit/shared/DirectoryWatcher.h"
#include "protocol/SavedComputer.h"
#include "sync/AutoSyncComputer.h"
#include "sync/LiveComputer.h"

namespace fotello {

// Hears the list's events, all on the main thread.
class AutoSyncComputerListDelegate {
 public:
  virtual ~AutoSyncComputerListDelegate() = default;
  // A peer became automatic: it appeared live while saved, or its record appeared while it is live.
  virtual void autoSyncComputerWasAdded(const AutoSyncComputer& computer) = 0;
  // An automatic peer stopped being one: its service went away or its record was deleted.
  virtual void autoSyncComputerWasRemoved(const AutoSyncComputer& computer) = 0;
  // A live peer's saved settings changed.
  virtual void autoSyncComputerConfigDidChange(const AutoSyncComputer& computer) = 0;
  // A saved peer's TXT record was read (also right after it was added).
  virtual void autoSyncComputerTXTRecordDidChange(const AutoSyncComputer& computer) = 0;
  // A desktop notification for the user: no icon, priority 0, not sticky, no click context. The
  // list asks for "StatusReadError" once per streak of unreadable TXT records of a service.
  virtual void autoSyncComputerListShouldNotify(const std::string& title, const std::string& description,
                                                const std::string& notificationName) {}
};

// Main thread only: created, started and destroyed there, and every DNS-SD callback, directory
// event and delegate event runs there. The one exception is savedComputerForUUID, which the pull
// thread may call: savedMutex_ guards savedComputersByUUID_, which only the main thread changes.
// The registry and the delegate (not owned) must outlive the list.
class AutoSyncComputerList final : public loomkit::ServiceBrowserDelegate, public loomkit::NetServiceDelegate {
 public:
  // How long after a first change of the records' directory further changes are gathered.
  static constexpr std::chrono::milliseconds kDirectoryLatency{1000};
  static constexpr std::chrono::milliseconds kResolveTimeout{5000};

  AutoSyncComputerList(loomkit::DNSServiceRegistry& registry, AutoSyncComputerListDelegate* delegate);
  ~AutoSyncComputerList() override;
  AutoSyncComputerList(const AutoSyncComputerList&) = delete;
  AutoSyncComputerList& operator=(const AutoSyncComputerList&) = delete;

  // Watches the records' directory (creating it when missing, so that the first record written
  // is seen), browses for the agents' service type and loads the saved computers. Once.
  void start();

  // The saved settings of a peer, or nothing. Any thread.
  std::optional<SavedComputer> savedComputerForUUID(const std::string& uuid) const;
  // A fresh map from the stored records, or nothing with the listing's error.
  static std::optional<std::map<std::string, SavedComputer>> loadSavedComputers(loomkit::Error* error = nullptr);
  // Rereads the records and reports the differences; the directory watch calls it.
  void savedComputersDidChange();

  // For tests and reports: the live peers by identifier, and the services being tracked.
  const std::map<std::string, LiveComputer>& liveComputersByUUID() const { return liveComputersByUUID_; }
  size_t netServiceCount() const { return netServices_.size(); }

  // ServiceBrowserDelegate
  void serviceBrowserDidFindService(const std::shared_ptr<loomkit::NetService>& service) override;
  void serviceBrowserDidRemoveService(const std::shared_ptr<loomkit::NetService>& service) override;
  void serviceBrowserDidNotSearch(const loomkit::Error& error) override;
  // NetServiceDelegate
  void netServiceDidResolveAddress(const std::shared_ptr<loomkit::NetService>& service) override;
  void netServiceDidNotResolve(const std::shared_ptr<loomkit::NetService>& service,
                               const loomkit::Error& error) override;
  void netServiceDidUpdateTXTRecordData(const std::shared_ptr<loomkit::NetService>& service,
                                        const loomkit::Bytes& data) override;

 private:
  static AutoSyncComputer autoSyncComputerFor(const LiveComputer& live);
  bool isSaved(const std::string& uuid) const;
  void startWatching();
  void directoryDidChange(const std::vector<std::string>& paths);

  loomkit::DNSServiceRegistry& registry_;
  AutoSyncComputerListDelegate* const delegate_;

  // Main thread only.
  bool started_ = false;
  std::unique_ptr<loomkit::ServiceBrowser> netServiceBrowser_;
  std::set<std::shared_ptr<loomkit::NetService>> netServices_;
  std::set<std::shared_ptr<loomkit::NetService>> errorNetServices_;
  std::map<std::string, LiveComputer> liveComputersByUUID_;
  std::unique_ptr<loomkit::DirectoryWatcher> watcher_;

  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // lets posted work see the list is gone

  mutable std::mutex savedMutex_;
  std::map<std::string, SavedComputer> savedComputersByUUID_;  // guarded by savedMutex_
};

}  // namespace fotello
