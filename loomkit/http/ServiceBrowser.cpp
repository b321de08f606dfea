#include "loomkit/http/ServiceBrowser.h"

namespace loomkit {

void ServiceBrowser::deliverFound(std::shared_ptr<NetService> service) {
  events_.post([this, service = std::move(service)] { delegate_->serviceBrowserDidFindService(service); });
}

void ServiceBrowser::deliverRemoved(std::shared_ptr<NetService> service) {
  events_.post([this, service = std::move(service)] { delegate_->serviceBrowserDidRemoveService(service); });
}

void ServiceBrowser::deliverNotSearched(Error error) {
  events_.post([this, error = std::move(error)] { delegate_->serviceBrowserDidNotSearch(error); });
}

}  // namespace loomkit
