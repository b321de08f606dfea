#include "loomkit/http/HTTPClientSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "loomkit/io/SocketInputStream.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

// The socket's input side; refuses to touch the descriptor once the socket is closed, since the
// system may have given its number to another file.
class HTTPClientSocket::Input final : public InputStream {
 public:
  explicit Input(const HTTPClientSocket& socket) : socket_(socket) {}
  int64_t read(void* buffer, uint64_t capacity, Error* error) override {
    if (!socket_.isOpen()) {
      setUnixError(error, EBADF, strprintf("recv: %s", systemErrorText(EBADF).c_str()));
      return -1;
    }
    return SocketInputStream(socket_.fd_).read(buffer, capacity, error);
  }
  std::string description() const override { return strprintf("<SocketInputStream: fd=%d>", socket_.fd_); }

 private:
  const HTTPClientSocket& socket_;
};

namespace {

// Waits for a non-blocking connect to finish; 0 on success, else the error number.
int finishConnect(int fd, int64_t timeoutSeconds) {
  pollfd watch{fd, POLLOUT, 0};
  int milliseconds = timeoutSeconds <= 0 ? -1 : static_cast<int>(std::min<int64_t>(timeoutSeconds, INT_MAX / 1000) * 1000);
  int ready;
  do {
    ready = ::poll(&watch, 1, milliseconds);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return errno;
  if (ready == 0) return ETIMEDOUT;
  int result = 0;
  socklen_t length = sizeof result;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) != 0) return errno;
  return result;
}

}  // namespace

HTTPClientSocket::HTTPClientSocket(int fd, std::string endpoint)
    : fd_(fd), endpoint_(std::move(endpoint)), input_(std::make_unique<BufferedInputStream>(std::make_unique<Input>(*this))),
      output_(fd) {}

HTTPClientSocket::~HTTPClientSocket() { close(); }

std::unique_ptr<HTTPClientSocket> HTTPClientSocket::connect(const std::string& host, uint16_t port,
                                                            int64_t timeoutSeconds, Error* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    setError(error, "URLConnectionErrorDomain", -1, strprintf("cannot resolve %s: %s", host.c_str(), gai_strerror(rc)));
    return nullptr;
  }
  int lastError = EHOSTUNREACH;
  const char* lastCall = "connect";
  for (addrinfo* a = found; a; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      lastCall = "socket";
      continue;
    }
    int result = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (result == EINPROGRESS) result = finishConnect(fd, timeoutSeconds);
    if (result != 0) {
      ::close(fd);
      lastError = result;
      lastCall = "connect";
      continue;
    }
    // Back to blocking: the socket streams wait with poll themselves.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::freeaddrinfo(found);
    LOG_TRACE("connected to %s port %d on fd %d", host.c_str(), port, fd);
    return std::unique_ptr<HTTPClientSocket>(new HTTPClientSocket(fd, host + ":" + service));
  }
  ::freeaddrinfo(found);
  setUnixError(error, lastError, strprintf("%s: %s", lastCall, systemErrorText(lastError).c_str()));
  return nullptr;
}

bool HTTPClientSocket::looksReusable() const {
  if (fd_ < 0) return false;
  // Bytes the buffer holds beyond the last response mean the server sent more than it announced.
  if (input_->bufferedByteCount() != 0) return false;
  pollfd watch{fd_, POLLIN | POLLRDHUP, 0};
  // Readable while idle: an end, a reset or unasked bytes; all rule the socket out, as does a failure.
  return ::poll(&watch, 1, 0) == 0;
}

void HTTPClientSocket::close() {
  if (fd_ < 0) return;
  LOG_TRACE("closing client socket fd %d", fd_);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace loomkit
