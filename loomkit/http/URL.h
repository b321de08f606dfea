// An http URL split into the parts a request needs: host, port and the target (path and query).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace loomkit {

// A plain value; copy it freely between threads.
class URL {
 public:
  // Parses "scheme://host[:port][/target]". The scheme is lower-cased; an IPv6 host is written in
  // brackets ("http://[fe80::1%eth0]:17600/status", the zone as typed) and kept without them. The
  // port defaults to 80 for http; the target to "/". Nothing for text that is not of that form:
  // no scheme, an empty host, a port that is not a number from 1 to 65535, or blanks or control
  // characters anywhere.
  static std::optional<URL> parse(const std::string& text);

  // The URL a redirect's "Location" names, relative to this one: an absolute URL, a
  // network-path reference ("//host/..."), an absolute path, or a path relative to this one's
  // directory.
  std::optional<URL> resolve(const std::string& location) const;

  const std::string& scheme() const { return scheme_; }
  // Without brackets: "10.0.0.2", "fe80::1%eth0", "kitchen.local".
  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }
  // Path and query as sent in the request line: "/status", "/a?b=c".
  const std::string& target() const { return target_; }
  // The host as a "Host" header and a URL write it: in brackets when it is an IPv6 address.
  std::string hostForHeader() const;
  // The whole URL again, with the port always written.
  std::string text() const;

 private:
  std::string scheme_;
  std::string host_;
  uint16_t port_ = 0;
  std::string target_;
};

}  // namespace loomkit
