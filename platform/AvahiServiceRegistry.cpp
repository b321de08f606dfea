#include "platform/AvahiServiceRegistry.h"

#include "loomkit/shared/MainLoop.h"
#include "platform/AvahiBrowser.h"
#include "platform/AvahiConnection.h"
#include "platform/AvahiRegistration.h"

namespace fotello {

AvahiServiceRegistry::AvahiServiceRegistry() : connection_(std::make_unique<AvahiConnection>()) {}

AvahiServiceRegistry::~AvahiServiceRegistry() = default;

std::unique_ptr<loomkit::ServiceRegistration> AvahiServiceRegistry::newRegistration(
    const std::string& name, const std::string& type, uint16_t port, const loomkit::Bytes& txtRecordData,
    loomkit::ServiceRegistrationDelegate* delegate) {
  loomkit::requireMainThread();
  return std::make_unique<AvahiRegistration>(*connection_, name, type, port, txtRecordData, delegate);
}

std::unique_ptr<loomkit::ServiceBrowser> AvahiServiceRegistry::newBrowser(const std::string& type,
                                                                         loomkit::ServiceBrowserDelegate* delegate) {
  loomkit::requireMainThread();
  return std::make_unique<AvahiBrowser>(*connection_, type, delegate);
}

bool AvahiServiceRegistry::isConnected() const { return connection_->runningClient() != nullptr; }

}  // namespace fotello
