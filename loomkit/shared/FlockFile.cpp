#include "loomkit/shared/FlockFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "loomkit/io/FileSystem.h"
#include "loomkit/shared/Format.h"

namespace loomkit {

bool FlockFile::acquire(const std::string& path, Error* error) {
  if (!FileSystem::ensureParentPathExistsForPath(path, error)) return false;
  // Close-on-exec: programs the agent starts must not inherit the lock.
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0700);
  if (fd < 0) {
    int e = errno;
    return setUnixError(error, e, strprintf("open lock file %s: %s", path.c_str(), systemErrorText(e).c_str()));
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    ::close(fd);
    std::string text = strprintf("flock(%s): %s", path.c_str(), systemErrorText(e).c_str());
    if (e == EWOULDBLOCK) return setError(error, kFlockFileErrorDomain, 2, text);
    return setUnixError(error, e, text);
  }
  return true;  // fd stays open: the lock lives as long as the process
}

}  // namespace loomkit
