#include "loomkit/http/NetService.h"

#include <algorithm>

namespace loomkit {

NetService::NetService(std::string name, std::string type, std::string domain)
    : name_(std::move(name)), type_(std::move(type)), domain_(std::move(domain)) {}

std::vector<ServiceAddress> NetService::addresses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resolved_.addresses;
}

uint16_t NetService::port() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resolved_.addresses.empty() ? 0 : resolved_.addresses.front().port();
}

Bytes NetService::txtRecordData() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resolved_.txtRecordData;
}

void NetService::deliverResolved(std::vector<ServiceAddress> addresses, Bytes txtRecordData) {
  std::stable_partition(addresses.begin(), addresses.end(),
                        [](const ServiceAddress& a) { return a.family() == AF_INET; });
  resolveEvents_.post([this, addresses = std::move(addresses), txt = std::move(txtRecordData)]() mutable {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      resolved_.addresses = std::move(addresses);
      resolved_.txtRecordData = std::move(txt);
    }
    if (delegate_) delegate_->netServiceDidResolveAddress(shared_from_this());
  });
}

void NetService::deliverNotResolved(Error error) {
  resolveEvents_.post([this, error = std::move(error)] {
    if (delegate_) delegate_->netServiceDidNotResolve(shared_from_this(), error);
  });
}

void NetService::deliverTXTRecordData(Bytes txtRecordData) {
  monitorEvents_.post([this, txt = std::move(txtRecordData)] {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      resolved_.txtRecordData = txt;
    }
    if (delegate_) delegate_->netServiceDidUpdateTXTRecordData(shared_from_this(), txt);
  });
}

}  // namespace loomkit
