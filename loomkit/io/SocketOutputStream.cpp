#include "loomkit/io/SocketOutputStream.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {

constexpr int kWriteWaitMilliseconds = 60 * 1000;
constexpr int64_t kTimeoutCode = -11;

}  // namespace

const std::string& SocketOutputStream::errorDomain() {
  static const std::string domain = "SocketOutputStreamErrorDomain";
  return domain;
}

int64_t SocketOutputStream::write(const void* bytes, uint64_t length, Error* error) {
  pollfd watch{fd_, POLLOUT | POLLPRI, 0};
  int ready;
  do {
    ready = ::poll(&watch, 1, kWriteWaitMilliseconds);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    int errnum = errno;
    setUnixError(error, errnum, strprintf("select: %s", systemErrorText(errnum).c_str()));
    return -1;
  }
  if (ready == 0) {
    setError(error, errorDomain(), kTimeoutCode, "write timeout");
    return -1;
  }
  size_t offered = static_cast<size_t>(std::min<uint64_t>(length, SSIZE_MAX));
  ssize_t sent;
  do {
    sent = ::send(fd_, bytes, offered, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    int errnum = errno;
    setUnixError(error, errnum, strprintf("write: %s", systemErrorText(errnum).c_str()));
    return -1;
  }
  bytesWritten_ += static_cast<uint64_t>(sent);
  return sent;
}

std::string SocketOutputStream::description() const { return strprintf("<SocketOutputStream: fd=%d>", fd_); }

}  // namespace loomkit
