#include "tools/fotelloctl/NetworkPeerLookup.h"

#include <strings.h>

#include "loomkit/http/NetServices.h"
#include "loomkit/shared/Log.h"
#include "protocol/IQVAgentStatus.h"

namespace fotello {

using namespace std::chrono_literals;

namespace {

// How long to go on listening after the first match, for another agent of the same name.
constexpr auto kAfterFirstMatch = 500ms;

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  return !a.empty() && a.size() == b.size() && ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

NetworkPeerLookup::NetworkPeerLookup(loomkit::DNSServiceRegistry& registry, loomkit::PollMainLoop& loop)
    : registry_(registry), loop_(loop) {}

NetworkPeerLookup::~NetworkPeerLookup() {
  for (const auto& service : services_) {
    service->stop();
    service->setDelegate(nullptr);
  }
}

std::vector<NetworkPeerLookup::Peer> NetworkPeerLookup::find(const std::string& peer,
                                                             std::chrono::milliseconds timeout) {
  wanted_ = peer;
  matches_.clear();
  auto browser = registry_.newBrowser(loomkit::NetServices::serviceType(), this);
  loop_.runUntil([&] { return !matches_.empty() || searchFailed_; }, timeout);
  if (!matches_.empty()) loop_.runUntil([] { return false; }, kAfterFirstMatch);
  return matches_;
}

bool NetworkPeerLookup::matches(const Peer& peer) const {
  return sameIgnoringCase(peer.uuid, wanted_) || sameIgnoringCase(peer.computerName, wanted_) ||
         sameIgnoringCase(peer.serviceName, wanted_);
}

void NetworkPeerLookup::serviceBrowserDidFindService(const std::shared_ptr<loomkit::NetService>& service) {
  services_.push_back(service);
  service->setDelegate(this);
  service->resolveWithTimeout();
}

void NetworkPeerLookup::serviceBrowserDidNotSearch(const loomkit::Error& error) {
  LOG_ERROR("net service search failed: %s", error.description().c_str());
  searchFailed_ = true;
}

void NetworkPeerLookup::netServiceDidResolveAddress(const std::shared_ptr<loomkit::NetService>& service) {
  loomkit::Error error;
  auto status = IQVAgentStatus::newWithTXTRecordData(service->txtRecordData(), &error);
  if (!status) {
    LOG_DEBUG("no status from %s: %s", service->name().c_str(), error.description().c_str());
    return;
  }
  Peer peer{status->uuid(), status->computerName(), status->userName(), service->name()};
  if (!matches(peer)) return;
  for (const Peer& known : matches_) {
    if (known.uuid == peer.uuid) return;
  }
  matches_.push_back(std::move(peer));
}

}  // namespace fotello
