// Finds a Fotello agent on the local network by its computer identifier, computer name or service
// name, reading who it is from the status in its DNS-SD TXT record.
#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "loomkit/http/DNSServiceRegistry.h"
#include "loomkit/shared/PollMainLoop.h"

namespace fotello {

// Main thread only: run it on the loop it is given, which must be the installed main loop.
class NetworkPeerLookup final : public loomkit::ServiceBrowserDelegate, public loomkit::NetServiceDelegate {
 public:
  struct Peer {
    std::string uuid;
    std::string computerName;
    std::string userName;
    std::string serviceName;
  };

  NetworkPeerLookup(loomkit::DNSServiceRegistry& registry, loomkit::PollMainLoop& loop);
  ~NetworkPeerLookup() override;

  // Browses until an agent whose identifier (any case), computer name or service name (both
  // without regard to case) is peer has been read, then a moment longer for any other that also
  // matches; gives up after timeout. Returns every matching agent, each identifier once.
  std::vector<Peer> find(const std::string& peer, std::chrono::milliseconds timeout);

  void serviceBrowserDidFindService(const std::shared_ptr<loomkit::NetService>& service) override;
  void serviceBrowserDidRemoveService(const std::shared_ptr<loomkit::NetService>& service) override {}
  void serviceBrowserDidNotSearch(const loomkit::Error& error) override;
  void netServiceDidResolveAddress(const std::shared_ptr<loomkit::NetService>& service) override;
  void netServiceDidNotResolve(const std::shared_ptr<loomkit::NetService>& service,
                               const loomkit::Error& error) override {}
  void netServiceDidUpdateTXTRecordData(const std::shared_ptr<loomkit::NetService>& service,
                                        const loomkit::Bytes& data) override {}

 private:
  bool matches(const Peer& peer) const;

  loomkit::DNSServiceRegistry& registry_;
  loomkit::PollMainLoop& loop_;
  std::string wanted_;
  bool searchFailed_ = false;
  std::vector<std::shared_ptr<loomkit::NetService>> services_;
  std::vector<Peer> matches_;
};

}  // namespace fotello
