// A peer as the request client sees it: who it is and where its agent listens.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "loomkit/http/NetService.h"
#include "loomkit/http/ServiceAddress.h"

namespace fotello {

// Implemented by the automatic peers and the desktop application's peers, and by a peer given by
// address for the tools. Implementations say how they may be shared between threads; the request
// client only reads them.
class RemoteComputer {
 public:
  virtual ~RemoteComputer() = default;

  // The peer's computer identifier (a UUID).
  virtual std::string uuid() const = 0;
  // The name the peer shows.
  virtual std::string computerName() const = 0;
  // The resolved DNS-SD service of the peer; nullptr for a peer given by address.
  virtual std::shared_ptr<loomkit::NetService> netService() const = 0;
  // The addresses to try, in order. By default those of the resolved service (IPv4 first), none
  // without one.
  virtual std::vector<loomkit::ServiceAddress> addresses() const;
};

}  // namespace fotello
