#include "loomkit/io/SocketInputStream.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

constexpr int64_t kTimeoutCode = -11;

// poll's time-out in milliseconds for a time-out in seconds: -1 (no limit) for 0 or less.
int pollMilliseconds(int64_t seconds) {
  if (seconds <= 0) return -1;
  return static_cast<int>(std::min<int64_t>(seconds, INT_MAX / 1000) * 1000);
}

}  // namespace

std::atomic<int64_t> SocketInputStream::readTimeoutSeconds_{60};

void SocketInputStream::setReadTimeoutSeconds(int64_t seconds) {
  readTimeoutSeconds_.store(seconds, std::memory_order_relaxed);
  LOG_INFO("network read timeout set to %ld seconds", static_cast<long>(seconds));
}

int64_t SocketInputStream::read(void* buffer, uint64_t capacity, Error* error) {
  // poll rather than select: select cannot watch descriptors numbered 1024 or above.
  pollfd watch{fd_, POLLIN | POLLPRI, 0};
  int ready;
  do {
    ready = ::poll(&watch, 1, pollMilliseconds(readTimeoutSeconds()));
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) {
    int errnum = errno;
    setUnixError(error, errnum, strprintf("select: %s", systemErrorText(errnum).c_str()));
    return -1;
  }
  if (ready == 0) {
    setError(error, "InputStreamErrorDomain", kTimeoutCode, "recv timeout");
    return -1;
  }
  size_t wanted = static_cast<size_t>(std::min<uint64_t>(capacity, SSIZE_MAX));
  ssize_t received;
  do {
    received = ::recv(fd_, buffer, wanted, 0);
  } while (received < 0 && errno == EINTR);
  if (received < 0) {
    int errnum = errno;
    setUnixError(error, errnum, strprintf("recv: %s", systemErrorText(errnum).c_str()));
    return -1;
  }
  return received;
}

std::string SocketInputStream::description() const { return strprintf("<SocketInputStream: fd=%d>", fd_); }

}  // namespace loomkit
