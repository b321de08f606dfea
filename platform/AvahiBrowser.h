// A DNS-SD browser as an avahi service browser in "local.". A service counts as found from the
// first interface and protocol it is seen on until the last one reports it gone. When the daemon
// goes away every service found is reported removed; the browser starts again with the daemon.
#pragma once

#include <avahi-client/lookup.h>

#include <map>
#include <memory>

#include "loomkit/http/ServiceBrowser.h"
#include "platform/AvahiConnection.h"
#include "platform/AvahiNetService.h"

namespace fotello {

// Main thread only. The connection must outlive it; its handles die with it.
class AvahiBrowser final : public loomkit::ServiceBrowser, private AvahiConnection::User {
 public:
  AvahiBrowser(AvahiConnection& connection, const std::string& type, loomkit::ServiceBrowserDelegate* delegate);
  ~AvahiBrowser() override;

 private:
  void avahiClientDidStart(AvahiClient* client) override;
  void avahiClientDidPause() override {}
  void avahiClientWillEnd() override;

  static void browserCallback(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                              AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                              AvahiLookupResultFlags flags, void* userdata);
  void browserEvent(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                    AvahiBrowserEvent event, const char* name);
  void start(AvahiClient* client);
  void fail(int avahiError);
  void freeBrowser();

  AvahiConnection& connection_;
  const std::string type_;       // as the caller spelled it
  const std::string avahiType_;  // without the final dot
  AvahiServiceBrowser* browser_ = nullptr;
  bool failed_ = false;
  std::map<std::string, std::shared_ptr<AvahiNetService>> services_;  // by instance name
  loomkit::GuardedPoster tasks_;
};

}  // namespace fotello
