#include "sync/LiveComputer.h"

#include "loomkit/shared/Log.h"

namespace fotello {

LiveComputer::LiveComputer(std::shared_ptr<loomkit::NetService> netService, const IQVAgentStatus& status)
    : netService_(std::move(netService)), uuid_(status.uuid()), computerName_(status.computerName()) {
  for (const loomkit::ServiceAddress& address : netService_->addresses()) {
    const std::string host = address.numericHost();
    if (address.family() == AF_INET) {
      LOG_DEBUG("new LiveComputer: netServiceName=%s ipv4=%s port=%d", netService_->name().c_str(), host.c_str(),
                address.port());
    } else if (address.family() == AF_INET6) {
      LOG_DEBUG("new LiveComputer: netServiceName=%s ipv6=%s port=%d", netService_->name().c_str(), host.c_str(),
                address.port());
    } else {
      LOG_DEBUG("new LiveComputer: family=%d", address.family());
    }
  }
}

}  // namespace fotello
