#include "loomkit/httpserver/ServerSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// A send that makes no progress for this long fails, like the socket output stream's wait.
constexpr int kSendTimeoutSeconds = 60;
// The most one sendfile call is asked to move (the system's own limit is just below 2 GiB).
constexpr uint64_t kMaxSendfileStep = 1u << 30;

void setOption(int fd, int level, int name, const void* value, socklen_t length) {
  // Best effort: the option only improves latency or bounds a stall; an AF_UNIX socket refuses
  // the TCP options.
  if (::setsockopt(fd, level, name, value, length) != 0) {
    LOG_TRACE("setsockopt(%d, %d) on fd %d: %s", level, name, fd, systemErrorText(errno).c_str());
  }
}

}  // namespace

ServerSocket::ServerSocket(int fd) : fd_(fd), is_(fd), os_(fd) {
  // Answers are written as a header block and a body: without this, the body's segment would wait
  // for the acknowledgement of the header's (delayed by the client) on every request.
  int on = 1;
  setOption(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // A blocking send of a large block (or a sendfile) returns after this long without progress
  // instead of hanging on a peer that stopped reading.
  timeval sendTimeout{kSendTimeoutSeconds, 0};
  setOption(fd_, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
}

ServerSocket::~ServerSocket() { close(); }

bool ServerSocket::failClosed(const char* call, Error* error) const {
  return setUnixError(error, EBADF, strprintf("%s: %s", call, systemErrorText(EBADF).c_str()));
}

int64_t ServerSocket::read(void* buffer, uint64_t capacity, Error* error) {
  if (!isOpen()) {
    failClosed("recv", error);
    return -1;
  }
  return is_.read(buffer, capacity, error);
}

std::optional<Bytes> ServerSocket::slurp(Error* error) {
  if (!isOpen()) {
    failClosed("recv", error);
    return std::nullopt;
  }
  return is_.slurp(error);
}

void ServerSocket::logBrokenPipe(const Error& error) const {
  if (error.is(kUnixErrorDomain, EPIPE)) LOG_ERROR("broken pipe on fd %d", fd_);
}

int64_t ServerSocket::write(const void* bytes, uint64_t length, Error* error) {
  if (!isOpen()) {
    failClosed("write", error);
    return -1;
  }
  Error local;
  int64_t n = os_.write(bytes, length, &local);
  if (n < 0) {
    logBrokenPipe(local);
    passError(error, local);
  }
  return n;
}

bool ServerSocket::sendFile(int fileFD, uint64_t offset, uint64_t length, Error* error) {
  if (!isOpen()) return failClosed("sendfile", error);
  uint64_t sent = 0;
  while (sent < length) {
    off_t position = static_cast<off_t>(offset + sent);
    size_t step = static_cast<size_t>(std::min(length - sent, kMaxSendfileStep));
    ssize_t n = ::sendfile(fd_, fileFD, &position, step);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return setError(error, SocketOutputStream::errorDomain(), -11, "write timeout");
    }
    if (n < 0) {
      int errnum = errno;
      Error failure;
      setUnixError(&failure, errnum, strprintf("sendfile: %s", systemErrorText(errnum).c_str()));
      logBrokenPipe(failure);
      return passError(error, failure);
    }
    if (n == 0) {
      return setError(error, errorDomain(), -1,
                      strprintf("file ended after %llu of %llu bytes", static_cast<unsigned long long>(sent),
                                static_cast<unsigned long long>(length)));
    }
    sent += static_cast<uint64_t>(n);
  }
  return true;
}

void ServerSocket::setCorked(bool corked) {
  if (!isOpen()) return;
  int value = corked ? 1 : 0;
  setOption(fd_, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

bool ServerSocket::shutdownWrite(Error* error) {
  if (!isOpen()) return failClosed("shutdown(SHUT_WR)", error);
  if (::shutdown(fd_, SHUT_WR) != 0) {
    int errnum = errno;
    return setUnixError(error, errnum, strprintf("shutdown(SHUT_WR): %s", systemErrorText(errnum).c_str()));
  }
  return true;
}

void ServerSocket::close() {
  if (!isOpen()) return;
  LOG_TRACE("closing %s", description().c_str());
  // The descriptor is gone whatever close reports (EINTR included), so it is never closed twice.
  if (::close(fd_) != 0) LOG_WARN("close failed: %s", systemErrorText(errno).c_str());
  fd_ = -1;
}

std::string ServerSocket::description() const { return strprintf("<ServerSocket: fd=%d>", fd_); }

}  // namespace loomkit
