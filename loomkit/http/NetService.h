// A DNS-SD service found by a ServiceBrowser: its handle for resolving it, monitoring its TXT
// record and reading its addresses. The browser hands out one handle per service and reports the
// removal with the same handle, so whatever was built from a find can be matched by it.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "loomkit/http/GuardedPoster.h"
#include "loomkit/http/NetServices.h"
#include "loomkit/http/ServiceAddress.h"
#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

class NetService;

// Hears what a NetService learns; every call runs on the main loop.
class NetServiceDelegate {
 public:
  virtual ~NetServiceDelegate() = default;
  // A resolve succeeded: service->addresses() and service->txtRecordData() hold the result.
  virtual void netServiceDidResolveAddress(const std::shared_ptr<NetService>& service) = 0;
  // A resolve failed; error is in NetServices::errorDomain(), kTimeoutError when time ran out.
  virtual void netServiceDidNotResolve(const std::shared_ptr<NetService>& service, const Error& error) = 0;
  // A monitored service's TXT record changed to data (also kept as service->txtRecordData()).
  virtual void netServiceDidUpdateTXTRecordData(const std::shared_ptr<NetService>& service, const Bytes& data) = 0;
};

// Made by an implementation's browser, always owned by shared pointers. name(), type() and
// domain() are constant; addresses(), port() and txtRecordData() may be read from any thread
// (resolved_ and its fields are guarded by mutex_); everything else is main-thread only.
// Once the browser reported the service removed, or was itself destroyed, the handle is dead: a
// resolve running then, and every later one, fails with kNotFoundError, and monitoring has ended.
class NetService : public std::enable_shared_from_this<NetService> {
 public:
  NetService(std::string name, std::string type, std::string domain);
  virtual ~NetService() = default;
  NetService(const NetService&) = delete;
  NetService& operator=(const NetService&) = delete;

  // The instance name ("Kitchen"), the type ("_fotello._tcp.") and the domain ("local.").
  const std::string& name() const { return name_; }
  const std::string& type() const { return type_; }
  const std::string& domain() const { return domain_; }

  // Sets the receiver of this service's events (not owned; nullptr for none). Events are read
  // from the delegate when they are delivered, so clearing it silences pending ones too.
  void setDelegate(NetServiceDelegate* delegate) { delegate_ = delegate; }
  NetServiceDelegate* delegate() const { return delegate_; }

  // Looks up the service's addresses and current TXT record; the delegate hears the result once.
  // A resolve still running is abandoned (it reports nothing). When the time-out passes before
  // any address is known the resolve fails with kTimeoutError.
  virtual void resolveWithTimeout(std::chrono::milliseconds timeout = NetServices::kResolveTimeout) = 0;
  // From now on, delivers every change of the TXT record (a record equal to the last one known,
  // resolved or delivered, is not a change). Calling it again while monitoring does nothing.
  virtual void startMonitoring() = 0;
  // Abandons a running resolve and ends monitoring; reports nothing, not even pending events.
  virtual void stop() = 0;

  // The addresses of the last successful resolve, IPv4 first; empty before. Any thread.
  std::vector<ServiceAddress> addresses() const;
  // The port of the last successful resolve, 0 before. Any thread.
  uint16_t port() const;
  // The last TXT record known from a resolve or a monitored change; empty before. Any thread.
  Bytes txtRecordData() const;

 protected:
  // For implementations (main thread). Each posts the event; when it is delivered (unless stop()
  // or a newer resolve came first) the handle's state is updated and then the delegate is called.
  void deliverResolved(std::vector<ServiceAddress> addresses, Bytes txtRecordData);
  void deliverNotResolved(Error error);
  void deliverTXTRecordData(Bytes txtRecordData);
  // Drops the events of the resolve in progress; implementations call it when a resolve starts
  // anew or stops.
  void dropPendingResolveEvents() { resolveEvents_.dropPending(); }
  // Drops the monitoring events not yet delivered.
  void dropPendingMonitorEvents() { monitorEvents_.dropPending(); }

 private:
  struct Resolved {
    std::vector<ServiceAddress> addresses;
    Bytes txtRecordData;
  };

  // Constant after construction.
  const std::string name_;
  const std::string type_;
  const std::string domain_;

  // Main thread only.
  NetServiceDelegate* delegate_ = nullptr;
  GuardedPoster resolveEvents_;
  GuardedPoster monitorEvents_;

  mutable std::mutex mutex_;
  Resolved resolved_;  // guarded by mutex_
};

}  // namespace loomkit
