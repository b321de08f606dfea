#include "tools/photolib/LibraryLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "tools/photolib/LibraryIndex.h"

namespace fotello {

std::string LibraryLock::lockPathForLibrary(const std::string& libraryPath) { return libraryPath + "/photolib.lock"; }

bool LibraryLock::acquire(const std::string& libraryPath, LibraryLock* lock, loomkit::Error* error) {
  const std::string path = lockPathForLibrary(libraryPath);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    int e = errno;
    return loomkit::setUnixError(error, e, loomkit::strprintf("open(%s): %s", path.c_str(), loomkit::systemErrorText(e).c_str()));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    char holder[32] = {};
    ssize_t n = ::pread(fd, holder, sizeof holder - 1, 0);
    ::close(fd);
    if (e != EWOULDBLOCK) {
      return loomkit::setUnixError(error, e, loomkit::strprintf("flock(%s): %s", path.c_str(), loomkit::systemErrorText(e).c_str()));
    }
    std::string pid(holder, n > 0 ? static_cast<size_t>(n) : 0);
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
    return loomkit::setError(error, kPhotolibErrorDomain, -1,
                             loomkit::strprintf("library %s is in use by process %s", libraryPath.c_str(),
                                                pid.empty() ? "(unknown)" : pid.c_str()));
  }
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    int e = errno;
    ::close(fd);
    return loomkit::setUnixError(error, e, loomkit::strprintf("write(%s): %s", path.c_str(), loomkit::systemErrorText(e).c_str()));
  }
  lock->fd_ = fd;
  return true;
}

LibraryLock::~LibraryLock() {
  if (fd_ < 0) return;
  // Emptied while still held, so a reader never sees a pid of a process that let go.
  if (::ftruncate(fd_, 0) != 0) LOG_DEBUG("cannot empty the library lock file: %s", loomkit::systemErrorText(errno).c_str());
  ::close(fd_);
}

}  // namespace fotello
