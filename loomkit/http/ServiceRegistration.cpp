#include "loomkit/http/ServiceRegistration.h"

namespace loomkit {

void ServiceRegistration::deliverPublished() {
  events_.post([this] { delegate_->netServiceDidPublish(name_); });
}

void ServiceRegistration::deliverNotPublished(Error error) {
  events_.post([this, error = std::move(error)] { delegate_->netServiceDidNotPublish(error); });
}

void ServiceRegistration::deliverStopped() {
  events_.post([this] { delegate_->netServiceDidStop(); });
}

}  // namespace loomkit
