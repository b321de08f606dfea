#include "loomkit/http/ServiceAddress.h"

#include <netdb.h>

#include <cstring>

namespace loomkit {

ServiceAddress::ServiceAddress(const sockaddr_in& address) : length_(sizeof address) {
  std::memcpy(&storage_, &address, sizeof address);
}

ServiceAddress::ServiceAddress(const sockaddr_in6& address) : length_(sizeof address) {
  std::memcpy(&storage_, &address, sizeof address);
}

std::optional<ServiceAddress> ServiceAddress::fromNumericHost(const std::string& host, uint16_t port) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return std::nullopt;
  std::optional<ServiceAddress> result;
  if (found->ai_family == AF_INET) {
    result = ServiceAddress(*reinterpret_cast<const sockaddr_in*>(found->ai_addr));
  } else if (found->ai_family == AF_INET6) {
    result = ServiceAddress(*reinterpret_cast<const sockaddr_in6*>(found->ai_addr));
  }
  ::freeaddrinfo(found);
  return result;
}

uint16_t ServiceAddress::port() const {
  if (family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_port);
  return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_port);
}

ServiceAddress ServiceAddress::withPort(uint16_t port) const {
  ServiceAddress copy = *this;
  if (family() == AF_INET) {
    reinterpret_cast<sockaddr_in*>(&copy.storage_)->sin_port = htons(port);
  } else {
    reinterpret_cast<sockaddr_in6*>(&copy.storage_)->sin6_port = htons(port);
  }
  return copy;
}

std::string ServiceAddress::numericHost() const {
  char host[NI_MAXHOST];
  if (::getnameinfo(socketAddress(), length_, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return "";
  return host;
}

bool ServiceAddress::operator==(const ServiceAddress& other) const {
  return length_ == other.length_ && std::memcmp(&storage_, &other.storage_, length_) == 0;
}

}  // namespace loomkit
