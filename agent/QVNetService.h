// The agent's DNS-SD announcement: one "_fotello._tcp." service in "local." under the computer's
// name, on the port the HTTP server listens on, with the agent's status record as its TXT record.
// A name that collides is given up for good and the next free "-N" suffix taken.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "loomkit/http/DNSServiceRegistry.h"
#include "protocol/IQVAgentStatus.h"

namespace fotello {

// Main thread only: the controller's calls and the registration's events both arrive there. The
// registry (not owned) must outlive it.
class QVNetService final : private loomkit::ServiceRegistrationDelegate {
 public:
  // DNS labels, and so instance names, are at most this many bytes.
  static constexpr size_t kMaxNameLength = 63;

  // computerName gives the name to publish under (loomkit::Computer::name() in the agent); it is
  // asked at every publish, so a renamed computer is published under its new name.
  explicit QVNetService(loomkit::DNSServiceRegistry& registry, std::function<std::string()> computerName = {});
  ~QVNetService() override;
  QVNetService(const QVNetService&) = delete;
  QVNetService& operator=(const QVNetService&) = delete;

  void setPort(uint16_t port) { port_ = port; }
  // Registers anew under the first name that has not collided: the computer's name, else the
  // name with "-1", "-2", ...
  void publish();
  // Remembers the status; once the service was published, it also becomes the TXT record.
  void setTXTRecord(std::shared_ptr<const IQVAgentStatus> status);

  bool published() const { return published_; }
  // The name of the current registration (published or not yet), or nullopt before publish().
  std::optional<std::string> name() const;

  // The name publish() picks for computerName when the names in failed have collided: the name
  // itself, else the first free name + "-%lu", the name cut (at a UTF-8 character boundary) so
  // that the candidate has at most kMaxNameLength bytes. A name that alone is too long for a DNS
  // label is cut the same way.
  static std::string candidateName(const std::string& computerName, const std::set<std::string>& failed);

 private:
  void netServiceDidPublish(const std::string& name) override;
  void netServiceDidNotPublish(const loomkit::Error& error) override;
  void netServiceDidStop() override;
  void applyTXTRecord();

  // Constant after construction.
  loomkit::DNSServiceRegistry& registry_;
  const std::function<std::string()> computerName_;

  // Main thread only.
  std::set<std::string> failedNetServiceNames_;
  uint16_t port_ = 0;
  std::unique_ptr<loomkit::ServiceRegistration> netService_;
  bool published_ = false;  // never reset once set
  std::shared_ptr<const IQVAgentStatus> agentStatus_;
};

}  // namespace fotello
