#include "loomkit/io/FileOutputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "loomkit/io/FDOutputStream.h"
#include "loomkit/shared/Format.h"

namespace loomkit {

FileOutputStream::FileOutputStream(std::string path, bool append) : append_(append), path_(std::move(path)) {}

FileOutputStream::~FileOutputStream() { close(); }

int64_t FileOutputStream::write(const void* bytes, uint64_t length, Error* error) {
  if (fd_ < 0) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append_ ? O_APPEND : O_TRUNC);
    fd_ = ::open(path_.c_str(), flags, 0644);
    if (fd_ < 0) {
      int e = errno;
      setUnixError(error, e, systemErrorText(e));
      return -1;
    }
  }
  int64_t n = FDOutputStream::writeToDescriptor(fd_, bytes, length, error);
  if (n > 0) bytesWritten_ += static_cast<uint64_t>(n);
  return n;
}

void FileOutputStream::close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

std::string FileOutputStream::description() const {
  return strprintf("<FileOutputStream: fd=%d path=%s>", fd_, path_.c_str());
}

}  // namespace loomkit
