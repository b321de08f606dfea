// One socket address of a resolved DNS-SD service: an IPv4 or IPv6 address with the service's port.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

namespace loomkit {

// A plain value; copy it freely between threads.
class ServiceAddress {
 public:
  explicit ServiceAddress(const sockaddr_in& address);
  explicit ServiceAddress(const sockaddr_in6& address);

  // The address of a numeric host text ("10.0.0.2", "::1", "fe80::1%eth0") and a port, or
  // nullopt when the text is not a numeric IPv4 or IPv6 address.
  static std::optional<ServiceAddress> fromNumericHost(const std::string& host, uint16_t port);

  // AF_INET or AF_INET6.
  int family() const { return storage_.ss_family; }
  // The port in host byte order.
  uint16_t port() const;
  // The same address with another port (host byte order).
  ServiceAddress withPort(uint16_t port) const;
  // The address for connect(2), with its length.
  const ::sockaddr* socketAddress() const { return reinterpret_cast<const ::sockaddr*>(&storage_); }
  socklen_t length() const { return length_; }
  // The address in numeric form, without the port: "10.0.0.2", "fe80::1%eth0".
  std::string numericHost() const;

  bool operator==(const ServiceAddress& other) const;

 private:
  sockaddr_storage storage_{};
  socklen_t length_ = 0;
};

}  // namespace loomkit
