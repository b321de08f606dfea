// A peer given by its address ("10.0.0.2:17600", "[fe80::1%eth0]:17600", "kitchen.local:17600")
// rather than found on the network: what the tools talk to.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "loomkit/shared/Error.h"
#include "protocol/RemoteComputer.h"

namespace fotello {

// Immutable once made; share it freely between threads.
class AddressRemoteComputer final : public RemoteComputer {
 public:
  // "AddressRemoteComputerErrorDomain", -1 for text that names no address.
  static std::string_view errorDomain() { return "AddressRemoteComputerErrorDomain"; }

  // The peer at addresses; uuid (may be empty) selects the stored password, name is shown.
  AddressRemoteComputer(std::vector<loomkit::ServiceAddress> addresses, std::string uuid, std::string name);

  // The peer named by "HOST:PORT": HOST a numeric IPv4 address, an IPv6 address in brackets or a
  // host name (looked up now; every address found, in the order the system gives them), PORT
  // from 1 to 65535. Fails with -1 "invalid peer address %@" or "cannot resolve %@: %s".
  static std::unique_ptr<AddressRemoteComputer> fromHostAndPort(const std::string& text, std::string uuid = "",
                                                               loomkit::Error* error = nullptr);

  std::string uuid() const override { return uuid_; }
  std::string computerName() const override { return name_; }
  std::shared_ptr<loomkit::NetService> netService() const override { return nullptr; }
  std::vector<loomkit::ServiceAddress> addresses() const override { return addresses_; }

 private:
  const std::vector<loomkit::ServiceAddress> addresses_;
  const std::string uuid_;
  const std::string name_;
};

}  // namespace fotello
