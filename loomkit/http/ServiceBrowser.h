// A search for services of one type in "local.", made by a DNSServiceRegistry.
#pragma once

#include <memory>

#include "loomkit/http/GuardedPoster.h"
#include "loomkit/http/NetService.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Hears what a ServiceBrowser sees; every call runs on the main loop.
class ServiceBrowserDelegate {
 public:
  virtual ~ServiceBrowserDelegate() = default;
  // A service appeared; service is its handle until the matching removal.
  virtual void serviceBrowserDidFindService(const std::shared_ptr<NetService>& service) = 0;
  // The service found earlier with this very handle went away; the handle is dead from now on.
  virtual void serviceBrowserDidRemoveService(const std::shared_ptr<NetService>& service) = 0;
  // The search could not start or broke off for good; error is in NetServices::errorDomain().
  virtual void serviceBrowserDidNotSearch(const Error& error) = 0;
};

// Main thread only. Browsing runs from creation until destruction; events not yet delivered when
// it is destroyed are dropped. The delegate (not owned) must outlive the browser.
class ServiceBrowser {
 public:
  explicit ServiceBrowser(ServiceBrowserDelegate* delegate) : delegate_(delegate) {}
  virtual ~ServiceBrowser() = default;
  ServiceBrowser(const ServiceBrowser&) = delete;
  ServiceBrowser& operator=(const ServiceBrowser&) = delete;

 protected:
  // For implementations: post the events to the delegate.
  void deliverFound(std::shared_ptr<NetService> service);
  void deliverRemoved(std::shared_ptr<NetService> service);
  void deliverNotSearched(Error error);

 private:
  ServiceBrowserDelegate* const delegate_;
  GuardedPoster events_;
};

}  // namespace loomkit
