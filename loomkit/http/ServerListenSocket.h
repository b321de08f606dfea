// The server's listening IPv4 TCP socket: bind (with the fall-back to any free port) and accept.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "loomkit/httpserver/ServerSocket.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Bound on the main thread, then used by one accepting thread; the descriptor is -1 when closed.
class ServerListenSocket {
 public:
  // Code of the accept time-out in errorDomain().
  static constexpr int64_t kTimeoutErrorCode = 1;
  // "ServerListenSocketErrorDomain".
  static std::string_view errorDomain() { return "ServerListenSocketErrorDomain"; }

  // No socket yet. Binding uses all local addresses by default; bindAddress (host byte order,
  // e.g. INADDR_LOOPBACK) narrows it.
  explicit ServerListenSocket(uint32_t bindAddress = INADDR_ANY) : bindAddress_(bindAddress) {}
  // Closes an open socket.
  ~ServerListenSocket();
  ServerListenSocket(const ServerListenSocket&) = delete;
  ServerListenSocket& operator=(const ServerListenSocket&) = delete;

  // Creates a stream socket with address reuse on, binds it at port and listens (backlog 128),
  // replacing any socket this object had. Failures in "UnixErrorDomain" with the system error
  // number: "socket: %s", "setsockopt: %s", "bind: %s" (EADDRINUSE when the port is taken),
  // "listen: %s"; the socket is then closed. Logs "listening at port %d" at DEBUG for a port
  // other than 0.
  bool bindAndListenAtPort(int port, Error* error = nullptr);
  // The same at a port the system chooses, stored in port; "getsockname: %s" when it cannot be read.
  bool bindAndListenAtAnyPort(int& port, Error* error = nullptr);
  // Binds port; when it is in use, logs "port %d was in use; binding at a random port" at WARN and
  // binds any free port instead. On success port holds the bound port. Other failures as above.
  bool bindAndListenAtPortOrAnyPort(int& port, Error* error = nullptr);

  // Waits until a connection arrives, at most timeoutSeconds (0 or less: without limit; a signal
  // restarts the wait with the full time), and accepts it. Failures: "UnixErrorDomain"
  // "select: %s" and "accept: %s"; errorDomain() kTimeoutErrorCode "accept timeout" when none
  // came in time. A connection that vanished before it was accepted is waited past.
  std::unique_ptr<ServerSocket> acceptWithTimeout(int timeoutSeconds, Error* error = nullptr);

  bool isOpen() const { return fd_ >= 0; }
  // The bound port, 0 when not bound.
  int port() const { return port_; }
  int fd() const { return fd_; }
  void close();

 private:
  // Closes the socket and passes the failure of the named call on.
  bool fail(const char* call, int errnum, Error* error);

  const uint32_t bindAddress_;
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace loomkit
