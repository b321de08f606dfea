#include "protocol/AddressRemoteComputer.h"

#include <netdb.h>

#include "loomkit/shared/Format.h"

namespace fotello {

AddressRemoteComputer::AddressRemoteComputer(std::vector<loomkit::ServiceAddress> addresses, std::string uuid,
                                             std::string name)
    : addresses_(std::move(addresses)), uuid_(std::move(uuid)), name_(std::move(name)) {}

std::unique_ptr<AddressRemoteComputer> AddressRemoteComputer::fromHostAndPort(const std::string& text, std::string uuid,
                                                                             loomkit::Error* error) {
  auto invalid = [&] {
    loomkit::setError(error, errorDomain(), -1, loomkit::strprintf("invalid peer address %s", text.c_str()));
    return nullptr;
  };
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size() || text.size() - colon - 1 > 5) {
    return invalid();
  }
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return invalid();
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return invalid();  // an IPv6 address needs its brackets
  }
  unsigned port = 0;
  for (char c : text.substr(colon + 1)) {
    if (c < '0' || c > '9') return invalid();
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port == 0 || port > 65535) return invalid();

  std::vector<loomkit::ServiceAddress> addresses;
  if (auto numeric = loomkit::ServiceAddress::fromNumericHost(host, static_cast<uint16_t>(port))) {
    addresses.push_back(*numeric);
  } else {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
      loomkit::setError(error, errorDomain(), -1, loomkit::strprintf("cannot resolve %s: %s", host.c_str(), gai_strerror(rc)));
      return nullptr;
    }
    for (addrinfo* a = found; a; a = a->ai_next) {
      std::optional<loomkit::ServiceAddress> address;
      if (a->ai_family == AF_INET) {
        address.emplace(*reinterpret_cast<const sockaddr_in*>(a->ai_addr));
      } else if (a->ai_family == AF_INET6) {
        address.emplace(*reinterpret_cast<const sockaddr_in6*>(a->ai_addr));
      }
      if (!address) continue;
      loomkit::ServiceAddress withPort = address->withPort(static_cast<uint16_t>(port));
      bool seen = false;
      for (const auto& known : addresses) seen = seen || known == withPort;
      if (!seen) addresses.push_back(withPort);
    }
    ::freeaddrinfo(found);
  }
  return std::make_unique<AddressRemoteComputer>(std::move(addresses), std::move(uuid), text);
}

}  // namespace fotello
