// A local network of DNS-SD hosts inside one process, for the tests of everything above DNS-SD:
// registrations, browsers and handles behave as with the platform's responder (names collide,
// removals reach browsers, TXT changes reach monitors, resolves answer with addresses), and a
// test can make resolves fail or time out.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loomkit/http/DNSServiceRegistry.h"
#include "loomkit/http/NetServices.h"

namespace loomkit {

// Main thread only, like the hosts it makes; needs the main loop installed (events are posted to
// it). Every host sees the services of every host, its own included. Names are compared without
// regard to ASCII case, like DNS names; a second live registration of a name and type anywhere on
// the network fails with kCollisionError. The network (its state is shared with the hosts) may be
// destroyed before its hosts.
class InProcessNetServices {
 public:
  InProcessNetServices();
  ~InProcessNetServices();
  InProcessNetServices(const InProcessNetServices&) = delete;
  InProcessNetServices& operator=(const InProcessNetServices&) = delete;

  // A host on this network. Services it registers resolve to these numeric addresses, each with
  // the service's port, in this order. An address that is not numeric stops the program (a
  // mistake in the test).
  std::unique_ptr<DNSServiceRegistry> newHost(const std::vector<std::string>& addresses = {"127.0.0.1", "::1"});

  // With nullopt (the default) resolves succeed. With kTimeoutError every resolve started from
  // now on fails with it when its time-out has passed; with any other code it fails at once with
  // that code.
  void setResolveFailure(std::optional<NetServices::Code> code);

  struct Network;

 private:
  std::shared_ptr<Network> network_;
};

}  // namespace loomkit
