// The DNS-SD service of the process: makes registrations and browsers. The agent and the desktop
// application use the platform's implementation; unit tests use InProcessNetServices.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomkit/http/ServiceBrowser.h"
#include "loomkit/http/ServiceRegistration.h"
#include "loomkit/io/Bytes.h"

namespace loomkit {

// Main thread only, like everything it makes. It must outlive the registrations and browsers it
// made; handles (NetService) may outlive it, but then they only fail or stay quiet.
class DNSServiceRegistry {
 public:
  virtual ~DNSServiceRegistry() = default;

  // Starts announcing a service of type (NetServices::serviceType()) named name on port in
  // "local.", with txtRecordData as its TXT record (empty for none). The delegate hears
  // netServiceDidPublish or netServiceDidNotPublish.
  virtual std::unique_ptr<ServiceRegistration> newRegistration(const std::string& name, const std::string& type,
                                                               uint16_t port, const Bytes& txtRecordData,
                                                               ServiceRegistrationDelegate* delegate) = 0;
  // Starts looking for services of type in "local."; the delegate hears every service found
  // (those already present included) and removed.
  virtual std::unique_ptr<ServiceBrowser> newBrowser(const std::string& type, ServiceBrowserDelegate* delegate) = 0;
};

}  // namespace loomkit
