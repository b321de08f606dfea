#include "loomkit/http/ServerListenSocket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

constexpr int kBacklog = 128;

int pollMilliseconds(int seconds) {
  if (seconds <= 0) return -1;
  return seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
}

}  // namespace

ServerListenSocket::~ServerListenSocket() { close(); }

void ServerListenSocket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  port_ = 0;
}

bool ServerListenSocket::fail(const char* call, int errnum, Error* error) {
  close();
  return setUnixError(error, errnum, strprintf("%s: %s", call, systemErrorText(errnum).c_str()));
}

bool ServerListenSocket::bindAndListenAtPort(int port, Error* error) {
  close();
  // Non-blocking, so that an accept after the wait never hangs on a connection that vanished.
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) return fail("socket", errno, error);
  int reuse = 1;
  if (::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0) return fail("setsockopt", errno, error);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(bindAddress_);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return fail("bind", errno, error);
  if (::listen(fd_, kBacklog) != 0) return fail("listen", errno, error);
  port_ = port;
  if (port != 0) LOG_DEBUG("listening at port %d", port);
  return true;
}

bool ServerListenSocket::bindAndListenAtAnyPort(int& port, Error* error) {
  if (!bindAndListenAtPort(0, error)) return false;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return fail("getsockname", errno, error);
  }
  port_ = port = ntohs(address.sin_port);
  LOG_DEBUG("listening at port %d", port);
  return true;
}

bool ServerListenSocket::bindAndListenAtPortOrAnyPort(int& port, Error* error) {
  Error failure;
  if (bindAndListenAtPort(port, &failure)) return true;
  if (!failure.is(kUnixErrorDomain, EADDRINUSE)) return passError(error, failure);
  LOG_WARN("port %d was in use; binding at a random port", port);
  return bindAndListenAtAnyPort(port, error);
}

std::unique_ptr<ServerSocket> ServerListenSocket::acceptWithTimeout(int timeoutSeconds, Error* error) {
  for (;;) {
    pollfd watch{fd_, POLLIN, 0};
    int ready;
    do {
      ready = ::poll(&watch, 1, pollMilliseconds(timeoutSeconds));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
      int errnum = errno;
      setUnixError(error, errnum, strprintf("select: %s", systemErrorText(errnum).c_str()));
      return nullptr;
    }
    if (ready == 0) {
      setError(error, errorDomain(), kTimeoutErrorCode, "accept timeout");
      return nullptr;
    }
    int fd;
    do {
      fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) return std::make_unique<ServerSocket>(fd);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) continue;
    int errnum = errno;
    setUnixError(error, errnum, strprintf("accept: %s", systemErrorText(errnum).c_str()));
    return nullptr;
  }
}

}  // namespace loomkit
