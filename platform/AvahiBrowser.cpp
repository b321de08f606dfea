#include "platform/AvahiBrowser.h"

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "platform/AvahiErrors.h"
#include "platform/AvahiNames.h"

namespace fotello {

AvahiBrowser::AvahiBrowser(AvahiConnection& connection, const std::string& type,
                           loomkit::ServiceBrowserDelegate* delegate)
    : ServiceBrowser(delegate), connection_(connection), type_(type), avahiType_(avahi_names::withoutFinalDot(type)) {
  connection_.addUser(this);
  if (AvahiClient* client = connection_.runningClient()) start(client);
}

AvahiBrowser::~AvahiBrowser() {
  freeBrowser();
  for (auto& [name, service] : services_) service->die();
  connection_.removeUser(this);
}

void AvahiBrowser::start(AvahiClient* client) {
  browser_ = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, avahiType_.c_str(),
                                       avahi_names::kDomain, AvahiLookupFlags(0), browserCallback, this);
  if (!browser_) {
    fail(avahi_client_errno(client));
    return;
  }
  LOG_DEBUG("DNS-SD: browsing for %s", avahiType_.c_str());
}

void AvahiBrowser::fail(int avahiError) {
  failed_ = true;
  loomkit::Error error;
  AvahiErrors::setError(&error, avahiError, loomkit::strprintf("browsing for '%s'", type_.c_str()));
  deliverNotSearched(error);
  // The browser may be in the middle of calling us back: free it once that is over.
  AvahiServiceBrowser* browser = browser_;
  tasks_.post([this, browser] {
    if (browser_ == browser) freeBrowser();
  });
}

void AvahiBrowser::avahiClientDidStart(AvahiClient* client) {
  if (!browser_ && !failed_) start(client);
}

void AvahiBrowser::avahiClientWillEnd() {
  freeBrowser();
  // Whatever happens on the network until the daemon is back goes unseen: report every service
  // gone now, and what the new browser finds as new.
  for (auto& [name, service] : services_) {
    service->die();
    deliverRemoved(service);
  }
  services_.clear();
}

void AvahiBrowser::browserCallback(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                                   AvahiBrowserEvent event, const char* name, const char*, const char*,
                                   AvahiLookupResultFlags, void* userdata) {
  static_cast<AvahiBrowser*>(userdata)->browserEvent(browser, interface, protocol, event, name);
}

void AvahiBrowser::browserEvent(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                                AvahiBrowserEvent event, const char* name) {
  switch (event) {
    case AVAHI_BROWSER_NEW: {
      std::shared_ptr<AvahiNetService>& service = services_[name];
      if (!service) {
        service = std::make_shared<AvahiNetService>(connection_, name, avahiType_);
        deliverFound(service);
      }
      service->addInstance(interface, protocol);
      return;
    }
    case AVAHI_BROWSER_REMOVE: {
      auto it = services_.find(name);
      if (it == services_.end()) return;
      std::shared_ptr<AvahiNetService> service = it->second;
      service->removeInstance(interface, protocol);
      if (service->hasInstances()) return;
      services_.erase(it);
      service->die();
      deliverRemoved(service);
      return;
    }
    case AVAHI_BROWSER_FAILURE: {
      AvahiClient* client = avahi_service_browser_get_client(browser);
      if (AvahiConnection::hasLostDaemon(client)) return;  // the connection's business
      fail(avahi_client_errno(client));
      return;
    }
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
    case AVAHI_BROWSER_ALL_FOR_NOW:
      return;
  }
}

void AvahiBrowser::freeBrowser() {
  if (browser_) avahi_service_browser_free(browser_);
  browser_ = nullptr;
}

}  // namespace fotello
