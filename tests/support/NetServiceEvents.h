// Records every event of the DNS-SD delegate interfaces, for the tests of the DNS-SD
// implementations.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "loomkit/http/NetService.h"
#include "loomkit/http/ServiceBrowser.h"
#include "loomkit/http/ServiceRegistration.h"

namespace fotello::test {

// Main thread only, like the events. Hand one to a registration, a browser or a handle (or all).
struct NetServiceEvents : loomkit::ServiceRegistrationDelegate,
                          loomkit::ServiceBrowserDelegate,
                          loomkit::NetServiceDelegate {
  std::vector<std::string> published;
  std::vector<loomkit::Error> notPublished;
  int stopped = 0;
  std::vector<std::shared_ptr<loomkit::NetService>> found, removed, resolved;
  std::vector<loomkit::Error> notSearched, notResolved;
  std::vector<loomkit::Bytes> txtUpdates;

  void netServiceDidPublish(const std::string& name) override { published.push_back(name); }
  void netServiceDidNotPublish(const loomkit::Error& error) override { notPublished.push_back(error); }
  void netServiceDidStop() override { ++stopped; }
  void serviceBrowserDidFindService(const std::shared_ptr<loomkit::NetService>& s) override { found.push_back(s); }
  void serviceBrowserDidRemoveService(const std::shared_ptr<loomkit::NetService>& s) override { removed.push_back(s); }
  void serviceBrowserDidNotSearch(const loomkit::Error& error) override { notSearched.push_back(error); }
  void netServiceDidResolveAddress(const std::shared_ptr<loomkit::NetService>& s) override { resolved.push_back(s); }
  void netServiceDidNotResolve(const std::shared_ptr<loomkit::NetService>&, const loomkit::Error& error) override {
    notResolved.push_back(error);
  }
  void netServiceDidUpdateTXTRecordData(const std::shared_ptr<loomkit::NetService>&,
                                        const loomkit::Bytes& data) override {
    txtUpdates.push_back(data);
  }

  // The last service found with this name, or nullptr.
  std::shared_ptr<loomkit::NetService> foundNamed(const std::string& name) const {
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
      if ((*it)->name() == name) return *it;
    }
    return nullptr;
  }
};

}  // namespace fotello::test
