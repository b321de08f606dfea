#include "loomkit/http/InProcessNetServices.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "loomkit/shared/MainLoop.h"

namespace loomkit {

namespace {

// DNS labels of instance names are at most 63 bytes.
constexpr size_t kMaxNameLength = 63;

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// "_fotello._tcp" and "_fotello._tcp." name the same type.
std::string withTrailingDot(const std::string& type) { return type.ends_with('.') ? type : type + "."; }

// "_name._tcp." or "_name._udp." with a name of 1 to 15 letters, digits and hyphens.
bool isValidType(const std::string& type) {
  std::string t = lowered(withTrailingDot(type));
  if (!t.starts_with('_') || !(t.ends_with("._tcp.") || t.ends_with("._udp."))) return false;
  std::string label = t.substr(1, t.size() - 7);
  return !label.empty() && label.size() <= 15 &&
         std::all_of(label.begin(), label.end(), [](unsigned char c) { return std::isalnum(c) || c == '-'; });
}

class InProcessRegistration;
class InProcessBrowser;

}  // namespace

// The state every host of one network shares; main thread only.
struct InProcessNetServices::Network {
  std::optional<NetServices::Code> resolveFailure;
  std::vector<InProcessRegistration*> announced;
  std::vector<InProcessBrowser*> browsers;

  InProcessRegistration* findAnnounced(const std::string& name, const std::string& type) const;
  void announce(InProcessRegistration* registration);
  void withdraw(InProcessRegistration* registration);
  void txtRecordChanged(InProcessRegistration* registration);
};

namespace {

using Network = InProcessNetServices::Network;

class InProcessRegistration final : public ServiceRegistration {
 public:
  InProcessRegistration(std::shared_ptr<Network> network, const std::vector<ServiceAddress>& hostAddresses,
                        const std::string& name, const std::string& type, uint16_t port, const Bytes& txt,
                        ServiceRegistrationDelegate* delegate)
      : ServiceRegistration(name, type, port, delegate), network_(std::move(network)), txt_(txt) {
    for (const ServiceAddress& address : hostAddresses) addresses_.push_back(address.withPort(port));
    Error error;
    if (!checkArguments(&error)) {
      deliverNotPublished(error);
    } else if (network_->findAnnounced(name, type)) {
      NetServices::setError(&error, NetServices::kCollisionError, strprintf("the name '%s' is in use", name.c_str()));
      deliverNotPublished(error);
    } else {
      announced_ = true;
      deliverPublished();
      network_->announce(this);
    }
  }

  ~InProcessRegistration() override {
    if (announced_) network_->withdraw(this);
  }

  bool setTXTRecordData(const Bytes& data, Error* error) override {
    if (!NetServices::isValidTXTRecordData(data)) {
      return NetServices::setError(error, NetServices::kBadArgumentError, "malformed TXT record");
    }
    if (!announced_) {
      return NetServices::setError(error, NetServices::kNotReadyError,
                                   strprintf("'%s' is not registered", name().c_str()));
    }
    if (data != txt_) {
      txt_ = data;
      network_->txtRecordChanged(this);
    }
    return true;
  }

  void stop() override {
    if (!announced_) return;
    announced_ = false;
    network_->withdraw(this);
    deliverStopped();
  }

  // The TXT record as browsers see it.
  const Bytes& visibleTXTRecordData() const { return txt_.empty() ? NetServices::emptyTXTRecordData() : txt_; }
  const std::vector<ServiceAddress>& addresses() const { return addresses_; }

 private:
  bool checkArguments(Error* error) const {
    if (name().empty() || name().size() > kMaxNameLength) {
      return NetServices::setError(error, NetServices::kBadArgumentError,
                                   strprintf("invalid service name '%s'", name().c_str()));
    }
    if (!isValidType(type())) {
      return NetServices::setError(error, NetServices::kBadArgumentError,
                                   strprintf("invalid service type '%s'", type().c_str()));
    }
    if (!NetServices::isValidTXTRecordData(txt_)) {
      return NetServices::setError(error, NetServices::kBadArgumentError, "malformed TXT record");
    }
    return true;
  }

  const std::shared_ptr<Network> network_;
  std::vector<ServiceAddress> addresses_;
  Bytes txt_;
  bool announced_ = false;
};

// A handle; alive while its registration is announced and its browser exists.
class InProcessService final : public NetService {
 public:
  InProcessService(const InProcessRegistration& registration, Network& network)
      : NetService(registration.name(), withTrailingDot(registration.type()), NetServices::domain()),
        registration_(&registration),
        network_(&network) {}

  ~InProcessService() override { endResolve(); }

  void resolveWithTimeout(std::chrono::milliseconds timeout) override {
    endResolve();
    if (!registration_) {
      deliverNotResolved(notFound());
      return;
    }
    std::optional<NetServices::Code> failure = network_->resolveFailure;
    if (!failure) {
      lastKnownTXT_ = registration_->visibleTXTRecordData();
      deliverResolved(registration_->addresses(), lastKnownTXT_);
    } else if (*failure == NetServices::kTimeoutError) {
      resolving_ = true;
      timer_ = MainLoop::main()->addTimer(timeout, false, [this] {
        timer_ = 0;
        resolving_ = false;
        Error error;
        NetServices::setError(&error, NetServices::kTimeoutError, strprintf("resolving '%s' timed out", name().c_str()));
        deliverNotResolved(error);
      });
    } else {
      Error error;
      NetServices::setError(&error, *failure, strprintf("resolving '%s' failed", name().c_str()));
      deliverNotResolved(error);
    }
  }

  void startMonitoring() override {
    if (registration_) monitoring_ = true;
  }

  void stop() override {
    endResolve();
    monitoring_ = false;
    dropPendingMonitorEvents();
  }

  // The registration went away or the browser was destroyed: the handle is dead.
  void die() {
    registration_ = nullptr;
    network_ = nullptr;
    monitoring_ = false;
    if (resolving_) {
      endResolve();
      deliverNotResolved(notFound());
    }
  }

  void txtRecordChanged(const Bytes& data) {
    if (!monitoring_ || data == lastKnownTXT_) return;
    lastKnownTXT_ = data;
    deliverTXTRecordData(data);
  }

 private:
  void endResolve() {
    if (timer_) MainLoop::main()->cancel(timer_);
    timer_ = 0;
    resolving_ = false;
    dropPendingResolveEvents();
  }

  Error notFound() const {
    Error error;
    NetServices::setError(&error, NetServices::kNotFoundError, strprintf("'%s' is not on the network", name().c_str()));
    return error;
  }

  const InProcessRegistration* registration_;
  Network* network_;
  bool resolving_ = false;
  bool monitoring_ = false;
  MainLoop::Id timer_ = 0;
  Bytes lastKnownTXT_;
};

class InProcessBrowser final : public ServiceBrowser {
 public:
  InProcessBrowser(std::shared_ptr<Network> network, const std::string& type, ServiceBrowserDelegate* delegate)
      : ServiceBrowser(delegate), network_(std::move(network)), type_(lowered(withTrailingDot(type))) {
    if (!isValidType(type)) {
      Error error;
      NetServices::setError(&error, NetServices::kBadArgumentError, strprintf("invalid service type '%s'", type.c_str()));
      deliverNotSearched(error);
      return;
    }
    network_->browsers.push_back(this);
    for (InProcessRegistration* registration : network_->announced) appeared(*registration);
  }

  ~InProcessBrowser() override {
    std::erase(network_->browsers, this);
    for (auto& [registration, service] : services_) service->die();
  }

  void appeared(const InProcessRegistration& registration) {
    if (lowered(withTrailingDot(registration.type())) != type_) return;
    auto service = std::make_shared<InProcessService>(registration, *network_);
    services_[&registration] = service;
    deliverFound(service);
  }

  void disappeared(const InProcessRegistration& registration) {
    auto it = services_.find(&registration);
    if (it == services_.end()) return;
    std::shared_ptr<InProcessService> service = it->second;
    services_.erase(it);
    service->die();
    deliverRemoved(service);
  }

  void txtRecordChanged(const InProcessRegistration& registration) {
    auto it = services_.find(&registration);
    if (it != services_.end()) it->second->txtRecordChanged(registration.visibleTXTRecordData());
  }

 private:
  const std::shared_ptr<Network> network_;
  const std::string type_;
  std::map<const InProcessRegistration*, std::shared_ptr<InProcessService>> services_;
};

class InProcessHost final : public DNSServiceRegistry {
 public:
  InProcessHost(std::shared_ptr<Network> network, std::vector<ServiceAddress> addresses)
      : network_(std::move(network)), addresses_(std::move(addresses)) {}

  std::unique_ptr<ServiceRegistration> newRegistration(const std::string& name, const std::string& type, uint16_t port,
                                                       const Bytes& txtRecordData,
                                                       ServiceRegistrationDelegate* delegate) override {
    requireMainThread();
    return std::make_unique<InProcessRegistration>(network_, addresses_, name, type, port, txtRecordData, delegate);
  }

  std::unique_ptr<ServiceBrowser> newBrowser(const std::string& type, ServiceBrowserDelegate* delegate) override {
    requireMainThread();
    return std::make_unique<InProcessBrowser>(network_, type, delegate);
  }

 private:
  const std::shared_ptr<Network> network_;
  const std::vector<ServiceAddress> addresses_;  // port 0
};

}  // namespace

InProcessRegistration* Network::findAnnounced(const std::string& name, const std::string& type) const {
  for (InProcessRegistration* registration : announced) {
    if (lowered(registration->name()) == lowered(name) &&
        lowered(withTrailingDot(registration->type())) == lowered(withTrailingDot(type))) {
      return registration;
    }
  }
  return nullptr;
}

void Network::announce(InProcessRegistration* registration) {
  announced.push_back(registration);
  for (InProcessBrowser* browser : browsers) browser->appeared(*registration);
}

void Network::withdraw(InProcessRegistration* registration) {
  std::erase(announced, registration);
  for (InProcessBrowser* browser : browsers) browser->disappeared(*registration);
}

void Network::txtRecordChanged(InProcessRegistration* registration) {
  for (InProcessBrowser* browser : browsers) browser->txtRecordChanged(*registration);
}

InProcessNetServices::InProcessNetServices() : network_(std::make_shared<Network>()) {}

InProcessNetServices::~InProcessNetServices() = default;

std::unique_ptr<DNSServiceRegistry> InProcessNetServices::newHost(const std::vector<std::string>& addresses) {
  std::vector<ServiceAddress> parsed;
  for (const std::string& text : addresses) {
    std::optional<ServiceAddress> address = ServiceAddress::fromNumericHost(text, 0);
    if (!address) {
      LOG_ERROR("not a numeric address: %s", text.c_str());
      std::abort();
    }
    parsed.push_back(*address);
  }
  return std::make_unique<InProcessHost>(network_, std::move(parsed));
}

void InProcessNetServices::setResolveFailure(std::optional<NetServices::Code> code) { network_->resolveFailure = code; }

}  // namespace loomkit
