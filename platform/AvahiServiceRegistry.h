// The DNS-SD service of both programs on Linux: avahi-daemon through avahi-client, on the main
// loop. The daemon is the one on the system bus (DBUS_SYSTEM_BUS_ADDRESS, when set, names the
// bus). Registrations and browsers made before the daemon is there, or while it is away, start
// when it (re)appears; the log tells when the connection is lost and when it is back.
#pragma once

#include <memory>

#include "loomkit/http/DNSServiceRegistry.h"

namespace fotello {

class AvahiConnection;

// Main thread only; needs the main loop installed, which must outlive it. It must outlive the
// registrations and browsers it made.
class AvahiServiceRegistry final : public loomkit::DNSServiceRegistry {
 public:
  AvahiServiceRegistry();
  ~AvahiServiceRegistry() override;

  std::unique_ptr<loomkit::ServiceRegistration> newRegistration(const std::string& name, const std::string& type,
                                                                uint16_t port, const loomkit::Bytes& txtRecordData,
                                                                loomkit::ServiceRegistrationDelegate* delegate) override;
  std::unique_ptr<loomkit::ServiceBrowser> newBrowser(const std::string& type,
                                                      loomkit::ServiceBrowserDelegate* delegate) override;

  // True while the daemon is connected and running.
  bool isConnected() const;

 private:
  std::unique_ptr<AvahiConnection> connection_;
};

}  // namespace fotello
