#include "loomkit/io/FDOutputStream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {
constexpr uint64_t kMaxSystemWrite = uint64_t{1} << 30;
}  // namespace

int64_t FDOutputStream::writeToDescriptor(int fd, const void* bytes, uint64_t length, Error* error) {
  ssize_t n;
  do {
    n = ::write(fd, bytes, std::min(length, kMaxSystemWrite));
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    int e = errno;
    setUnixError(error, e, strprintf("write: %s", systemErrorText(e).c_str()));
    return -1;
  }
  return n;
}

int64_t FDOutputStream::write(const void* bytes, uint64_t length, Error* error) {
  int64_t n = writeToDescriptor(fd_, bytes, length, error);
  if (n > 0) bytesWritten_ += static_cast<uint64_t>(n);
  return n;
}

std::string FDOutputStream::description() const { return strprintf("<FDOutputStream: fd=%d>", fd_); }

}  // namespace loomkit
