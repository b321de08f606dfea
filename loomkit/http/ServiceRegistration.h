// One service published with DNS-SD, made by a DNSServiceRegistry.
#pragma once

#include <cstdint>
#include <string>

#include "loomkit/http/GuardedPoster.h"
#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Hears what becomes of a ServiceRegistration; every call runs on the main loop.
class ServiceRegistrationDelegate {
 public:
  virtual ~ServiceRegistrationDelegate() = default;
  // The service is announced under name (the requested name; the registration never renames).
  virtual void netServiceDidPublish(const std::string& name) = 0;
  // The service is not (or no longer) announced and the registration gives up; error is in
  // NetServices::errorDomain(), kCollisionError when the name is taken here or elsewhere on the
  // network (NetServices::isCollision()). Choosing another name is the caller's business.
  virtual void netServiceDidNotPublish(const Error& error) = 0;
  // The announcement ended: stop() was called, or the DNS-SD service went away (the
  // implementation publishes again, with a new netServiceDidPublish, when it is back).
  virtual void netServiceDidStop() = 0;
};

// Main thread only. Registering starts at creation; destruction withdraws the service without a
// word and drops the events not yet delivered. The delegate (not owned) must outlive it.
class ServiceRegistration {
 public:
  ServiceRegistration(std::string name, std::string type, uint16_t port, ServiceRegistrationDelegate* delegate)
      : name_(std::move(name)), type_(std::move(type)), port_(port), delegate_(delegate) {}
  virtual ~ServiceRegistration() = default;
  ServiceRegistration(const ServiceRegistration&) = delete;
  ServiceRegistration& operator=(const ServiceRegistration&) = delete;

  const std::string& name() const { return name_; }
  const std::string& type() const { return type_; }
  uint16_t port() const { return port_; }

  // Replaces the service's TXT record with data (a well-formed record, NetServices::
  // isValidTXTRecordData). Fails with kBadArgumentError for a malformed record and with
  // kNotReadyError once the registration gave up or was stopped. While the DNS-SD service is away
  // the record is kept and announced when it is back.
  virtual bool setTXTRecordData(const Bytes& data, Error* error = nullptr) = 0;
  // Withdraws the service; the delegate hears netServiceDidStop when it was announced.
  virtual void stop() = 0;

 protected:
  // For implementations: post the events to the delegate.
  void deliverPublished();
  void deliverNotPublished(Error error);
  void deliverStopped();

 private:
  const std::string name_;
  const std::string type_;
  const uint16_t port_;
  ServiceRegistrationDelegate* const delegate_;
  GuardedPoster events_;
};

}  // namespace loomkit
