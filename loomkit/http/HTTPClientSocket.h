// The TCP connection of an HTTP client: a connected socket with its buffered input and its output.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/SocketOutputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Used by one thread at a time: the request object holding it, or the pool moving it from one
// request object to the next on the same thread. Owns the descriptor until close() or
// destruction. Reads wait up to the process-wide read time-out (SocketInputStream).
class HTTPClientSocket {
 public:
  // Connects to host (a numeric IPv4 or IPv6 address, with an IPv6 zone as "%eth0", or a name
  // looked up with getaddrinfo) at port, trying each address the lookup gives in order and
  // waiting at most timeoutSeconds for each (0 or less: the system's own limit). Failures:
  // "UnixErrorDomain" with the system error number, "socket: %s" or "connect: %s" (the last
  // address's), or "URLConnectionErrorDomain" -1 "cannot resolve %@: %s".
  static std::unique_ptr<HTTPClientSocket> connect(const std::string& host, uint16_t port, int64_t timeoutSeconds,
                                                   Error* error = nullptr);
  ~HTTPClientSocket();
  HTTPClientSocket(const HTTPClientSocket&) = delete;
  HTTPClientSocket& operator=(const HTTPClientSocket&) = delete;

  BufferedInputStream& input() { return *input_; }
  SocketOutputStream& output() { return output_; }

  // "host:port" as given to connect(), for matching a socket to a request's server.
  const std::string& endpoint() const { return endpoint_; }
  int fd() const { return fd_; }
  bool isOpen() const { return fd_ >= 0; }

  // True when an idle keep-alive socket may carry another request: open, nothing buffered, and
  // the server has neither closed its end nor sent anything unasked.
  bool looksReusable() const;

  // Closes the descriptor; later reads and writes fail with EBADF. Nothing when closed.
  void close();

 private:
  class Input;
  HTTPClientSocket(int fd, std::string endpoint);

  int fd_;
  const std::string endpoint_;
  std::unique_ptr<BufferedInputStream> input_;
  SocketOutputStream output_;
};

}  // namespace loomkit
