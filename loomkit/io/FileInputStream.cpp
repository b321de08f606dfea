#include "loomkit/io/FileInputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {
// One system read never asks for more than this (Linux caps a read near 2 GiB anyway).
constexpr uint64_t kMaxSystemRead = uint64_t{1} << 30;
}  // namespace

FileInputStream::FileInputStream(std::string path, uint64_t offset, uint64_t length)
    : path_(std::move(path)),
      fileLength_(length > kToEnd - offset ? kToEnd : offset + length),
      offset_(offset) {}

FileInputStream::~FileInputStream() { close(); }

bool FileInputStream::open(Error* error) {
  int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    return setUnixError(error, e, systemErrorText(e));
  }
  fd_ = fd;
  LOG_TRACE("opened fd %d (%s)", fd_, path_.c_str());
  if (offset_ != 0 && ::lseek(fd_, static_cast<off_t>(offset_), SEEK_SET) < 0) {
    int e = errno;
    close();
    return setUnixError(error, e,
                        strprintf("lseek(%s, %llu): %s", path_.c_str(), static_cast<unsigned long long>(offset_),
                                  systemErrorText(e).c_str()));
  }
  return true;
}

int64_t FileInputStream::read(void* buffer, uint64_t capacity, Error* error) {
  if (fd_ < 0 && !open(error)) return -1;
  uint64_t want = std::min({capacity, fileLength_ - offset_, kMaxSystemRead});
  if (want == 0) return 0;
  ssize_t n;
  do {
    n = ::read(fd_, buffer, want);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    int e = errno;
    setUnixError(error, e, strprintf("read(%s): %s", path_.c_str(), systemErrorText(e).c_str()));
    return -1;
  }
  offset_ += static_cast<uint64_t>(n);
  return n;
}

void FileInputStream::close() {
  if (fd_ < 0) return;
  ::close(fd_);
  LOG_TRACE("closed fd %d (%s)", fd_, path_.c_str());
  fd_ = -1;
}

std::string FileInputStream::description() const {
  return strprintf("<FileInputStream: fd=%d path=%s>", fd_, path_.c_str());
}

}  // namespace loomkit
