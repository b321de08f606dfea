#include "platform/AvahiNetService.h"

#include <avahi-common/defs.h>
#include <avahi-common/domain.h>
#include <avahi-common/error.h>

#include <algorithm>
#include <cstring>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "platform/AvahiErrors.h"
#include "platform/AvahiNames.h"
#include "platform/AvahiTXTRecord.h"

namespace fotello {

using loomkit::NetServices;
using loomkit::ServiceAddress;
using loomkit::strprintf;
using namespace std::chrono_literals;

namespace {

// Once one interface answered a resolve, the others get this long to add their addresses.
constexpr std::chrono::milliseconds kGraceAfterFirstAnswer = 250ms;

std::optional<ServiceAddress> serviceAddress(const AvahiAddress& address, uint16_t port, AvahiIfIndex interface) {
  if (address.proto == AVAHI_PROTO_INET) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    in.sin_addr.s_addr = address.data.ipv4.address;
    return ServiceAddress(in);
  }
  if (address.proto == AVAHI_PROTO_INET6) {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    std::memcpy(&in6.sin6_addr, address.data.ipv6.address, sizeof in6.sin6_addr);
    // A link-local address means something only together with its interface.
    if (IN6_IS_ADDR_LINKLOCAL(&in6.sin6_addr)) in6.sin6_scope_id = static_cast<uint32_t>(interface);
    return ServiceAddress(in6);
  }
  return std::nullopt;
}

}  // namespace

AvahiNetService::AvahiNetService(AvahiConnection& connection, const std::string& name, const std::string& avahiType)
    : NetService(name, avahi_names::withFinalDot(avahiType), NetServices::domain()),
      connection_(&connection),
      avahiType_(avahiType) {}

AvahiNetService::~AvahiNetService() {
  endResolve();
  endMonitoring();
}

void AvahiNetService::addInstance(AvahiIfIndex interface, AvahiProtocol protocol) {
  bool added = instances_.insert({interface, protocol}).second;
  // The browser reports a service once per interface and protocol, one after the other: a resolve
  // that began with the first must ask the later ones too, or it may never see an IPv4 address.
  if (added && resolving_) startResolver(interface, protocol);
}

void AvahiNetService::startResolver(AvahiIfIndex interface, AvahiProtocol protocol) {
  AvahiClient* client = connection_ ? connection_->runningClient() : nullptr;
  if (!client) return;
  // Asking over IPv4 for IPv4 addresses and over IPv6 for IPv6 ones gets both families.
  AvahiServiceResolver* resolver =
      avahi_service_resolver_new(client, interface, protocol, name().c_str(), avahiType_.c_str(),
                                 avahi_names::kDomain, protocol, AvahiLookupFlags(0), resolverCallback, this);
  if (resolver) {
    resolvers_.push_back(resolver);
  } else {
    lastError_ = avahi_client_errno(client);
  }
}

void AvahiNetService::removeInstance(AvahiIfIndex interface, AvahiProtocol protocol) {
  instances_.erase({interface, protocol});
  if (recordBrowser_ && monitoredInstance_ == std::make_pair(interface, protocol)) {
    closeRecordBrowser();
    openRecordBrowser();
  }
}

loomkit::Error AvahiNetService::notFound() const {
  loomkit::Error error;
  NetServices::setError(&error, NetServices::kNotFoundError, strprintf("'%s' is not on the network", name().c_str()));
  return error;
}

void AvahiNetService::resolveWithTimeout(std::chrono::milliseconds timeout) {
  endResolve();
  if (!connection_) {
    deliverNotResolved(notFound());
    return;
  }
  resolving_ = true;
  timeoutTimer_ = tasks_.loop().addTimer(timeout, false, [this] {
    timeoutTimer_ = 0;
    finishResolve(true);
  });
  if (!connection_->runningClient()) return;  // the daemon is pausing: it may answer in time
  for (const auto& [interface, protocol] : instances_) startResolver(interface, protocol);
  if (resolvers_.empty()) finishResolve(false);
}

void AvahiNetService::resolverCallback(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                                       AvahiResolverEvent event, const char*, const char*, const char*, const char*,
                                       const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                                       AvahiLookupResultFlags, void* userdata) {
  static_cast<AvahiNetService*>(userdata)->resolverAnswered(resolver, interface, event, address, port, txt);
}

void AvahiNetService::resolverAnswered(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                                       AvahiResolverEvent event, const AvahiAddress* address, uint16_t port,
                                       AvahiStringList* txt) {
  if (event == AVAHI_RESOLVER_FOUND) {
    std::optional<ServiceAddress> found = address ? serviceAddress(*address, port, interface) : std::nullopt;
    if (found && std::find(found_.begin(), found_.end(), *found) == found_.end()) found_.push_back(*found);
    if (!foundTXT_) foundTXT_ = AvahiTXTRecord::fromResolverList(txt);
  } else {
    AvahiClient* client = avahi_service_resolver_get_client(resolver);
    // A lost daemon is the connection's business (the browser will report the service removed).
    if (AvahiConnection::hasLostDaemon(client)) return;
    lastError_ = avahi_client_errno(client);
  }
  std::erase(resolvers_, resolver);
  avahi_service_resolver_free(resolver);  // allowed inside its callback
  if (resolvers_.empty()) {
    finishResolve(false);
  } else if (!graceTimer_ && std::any_of(found_.begin(), found_.end(),
                                          [](const ServiceAddress& a) { return a.family() == AF_INET; })) {
    // Agents listen on IPv4: once an IPv4 address is known the other answers get a short grace;
    // with IPv6 ones only, the resolve waits for the rest (up to its time-out, which then delivers
    // what was found).
    graceTimer_ = tasks_.loop().addTimer(kGraceAfterFirstAnswer, false, [this] {
      graceTimer_ = 0;
      finishResolve(false);
    });
  }
}

void AvahiNetService::finishResolve(bool timedOut) {
  if (!resolving_) return;
  std::vector<ServiceAddress> addresses = std::move(found_);
  loomkit::Bytes txt = foundTXT_.value_or(NetServices::emptyTXTRecordData());
  int avahiError = lastError_;
  endResolve();
  if (!addresses.empty()) {
    lastKnownTXT_ = txt;
    deliverResolved(std::move(addresses), std::move(txt));
    return;
  }
  loomkit::Error error;
  if (timedOut || avahiError == 0) {
    NetServices::setError(&error, NetServices::kTimeoutError, strprintf("resolving '%s' timed out", name().c_str()));
  } else {
    AvahiErrors::setError(&error, avahiError, strprintf("resolving '%s'", name().c_str()));
  }
  deliverNotResolved(error);
}

void AvahiNetService::endResolve() {
  for (AvahiServiceResolver* resolver : resolvers_) avahi_service_resolver_free(resolver);
  resolvers_.clear();
  if (timeoutTimer_) tasks_.loop().cancel(timeoutTimer_);
  if (graceTimer_) tasks_.loop().cancel(graceTimer_);
  timeoutTimer_ = graceTimer_ = 0;
  found_.clear();
  foundTXT_.reset();
  lastError_ = 0;
  resolving_ = false;
  dropPendingResolveEvents();
}

void AvahiNetService::startMonitoring() {
  if (!connection_ || monitoring_) return;
  monitoring_ = true;
  openRecordBrowser();
}

void AvahiNetService::openRecordBrowser() {
  AvahiClient* client = connection_ ? connection_->runningClient() : nullptr;
  if (!client || instances_.empty()) return;
  auto ipv4 = std::find_if(instances_.begin(), instances_.end(),
                           [](const auto& instance) { return instance.second == AVAHI_PROTO_INET; });
  monitoredInstance_ = ipv4 != instances_.end() ? *ipv4 : *instances_.begin();
  char fullName[AVAHI_DOMAIN_NAME_MAX];
  if (avahi_service_name_join(fullName, sizeof fullName, name().c_str(), avahiType_.c_str(), avahi_names::kDomain) < 0) {
    LOG_WARN("DNS-SD: cannot monitor '%s': not a valid service name", name().c_str());
    return;
  }
  recordBrowser_ = avahi_record_browser_new(client, monitoredInstance_.first, monitoredInstance_.second, fullName,
                                            AVAHI_DNS_CLASS_IN, AVAHI_DNS_TYPE_TXT, AvahiLookupFlags(0),
                                            recordCallback, this);
  if (!recordBrowser_) {
    LOG_WARN("DNS-SD: cannot monitor '%s': %s", name().c_str(), avahi_strerror(avahi_client_errno(client)));
  }
}

void AvahiNetService::closeRecordBrowser() {
  if (recordBrowser_) avahi_record_browser_free(recordBrowser_);
  recordBrowser_ = nullptr;
  cachedRecords_.clear();
  cacheRead_ = false;
}

void AvahiNetService::recordCallback(AvahiRecordBrowser* browser, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event,
                                     const char*, uint16_t, uint16_t, const void* rdata, size_t size,
                                     AvahiLookupResultFlags, void* userdata) {
  static_cast<AvahiNetService*>(userdata)->recordSeen(browser, event, rdata, size);
}

// The record browser first reports what the cache holds, then CACHE_EXHAUSTED, then every change:
// a changed record arrives as the new one at once and the removal of the old one about a second
// later. A change made just as browsing starts can show the new record and then the old one in
// that first look; so the first look counts only once it holds a single record, and a removal
// that leaves a single record settles which one is current.
void AvahiNetService::recordSeen(AvahiRecordBrowser* browser, AvahiBrowserEvent event, const void* rdata, size_t size) {
  switch (event) {
    case AVAHI_BROWSER_NEW:
    case AVAHI_BROWSER_REMOVE: {
      if (!rdata) return;
      loomkit::Bytes data = AvahiTXTRecord::fromWireForm(static_cast<const uint8_t*>(rdata), size);
      auto it = std::find(cachedRecords_.begin(), cachedRecords_.end(), data);
      if (event == AVAHI_BROWSER_NEW) {
        if (it == cachedRecords_.end()) cachedRecords_.push_back(data);
        if (cacheRead_) reportRecord(data);
      } else {
        if (it != cachedRecords_.end()) cachedRecords_.erase(it);
        if (cacheRead_ && cachedRecords_.size() == 1) reportRecord(cachedRecords_.front());
      }
      return;
    }
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
      cacheRead_ = true;
      if (cachedRecords_.size() == 1) reportRecord(cachedRecords_.front());
      return;
    case AVAHI_BROWSER_ALL_FOR_NOW:
      return;
    case AVAHI_BROWSER_FAILURE: {
      AvahiClient* client = avahi_record_browser_get_client(browser);
      if (AvahiConnection::hasLostDaemon(client)) return;
      LOG_WARN("DNS-SD: monitoring of '%s' failed: %s", name().c_str(), avahi_strerror(avahi_client_errno(client)));
      tasks_.post([this, browser] {
        if (recordBrowser_ == browser) endMonitoring();
      });
      return;
    }
  }
}

void AvahiNetService::reportRecord(const loomkit::Bytes& data) {
  if (data == lastKnownTXT_) return;
  lastKnownTXT_ = data;
  deliverTXTRecordData(data);
}

void AvahiNetService::endMonitoring() {
  closeRecordBrowser();
  monitoring_ = false;
}

void AvahiNetService::stop() {
  endResolve();
  endMonitoring();
  dropPendingMonitorEvents();
}

void AvahiNetService::die() {
  bool wasResolving = resolving_;
  endResolve();
  endMonitoring();
  instances_.clear();
  connection_ = nullptr;
  if (wasResolving) deliverNotResolved(notFound());
}

}  // namespace fotello
