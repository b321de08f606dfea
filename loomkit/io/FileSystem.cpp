#include "loomkit/io/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "loomkit/io/FDOutputStream.h"
#include "loomkit/io/Streams.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

std::string FileSystem::parentPath(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

bool FileSystem::exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool FileSystem::isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// mkdir -p; returns 0 or an errno value.
int makeDirectories(const std::string& dir) {
  if (dir.empty()) return 0;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  int rc = makeDirectories(FileSystem::parentPath(dir));
  if (rc != 0) return rc;
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  return 0;
}

}  // namespace

bool FileSystem::ensureParentPathExistsForPath(const std::string& path, Error* error) {
  std::string parent = parentPath(path);
  if (parent.empty()) return true;
  struct stat st;
  if (::stat(parent.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    return setError(error, kFileErrorDomain, -1,
                    strprintf("parent path %s exists and is not a directory", parent.c_str()));
  }
  int rc = makeDirectories(parent);
  if (rc != 0) {
    return setUnixError(error, rc, strprintf("mkdir(%s): %s", parent.c_str(), systemErrorText(rc).c_str()));
  }
  return true;
}

bool FileSystem::touchFileAtPath(const std::string& path, Error* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    struct timeval now[2];
    now[0].tv_sec = std::time(nullptr);
    now[0].tv_usec = 0;
    now[1] = now[0];
    if (::utimes(path.c_str(), now) != 0) {
      int e = errno;
      return setUnixError(error, e, strprintf("utimes(%s): %s", path.c_str(), systemErrorText(e).c_str()));
    }
    return true;
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0777);
  if (fd < 0) {
    int e = errno;
    return setUnixError(error, e, systemErrorText(e));
  }
  ::close(fd);
  return true;
}

bool FileSystem::writeFileAtomically(const std::string& path, const void* bytes, size_t length, Error* error) {
  return replaceFileAtomically(
      path, [&](OutputStream& out, Error* e) { return Streams::writeFully(out, bytes, length, e); }, nullptr, error);
}

bool FileSystem::replaceFileAtomically(const std::string& path, const Filler& fill, uint64_t* bytesWritten,
                                       Error* error) {
  const std::string templ = path + ".XXXXXX";
  std::string temp = templ;  // the system fills in the X's, even when it fails
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    return setUnixError(error, e, strprintf("mkstemp(%s): %s", templ.c_str(), systemErrorText(e).c_str()));
  }
  FDOutputStream out(fd);
  bool ok = fill(out, error);
  if (::close(fd) != 0 && ok) {
    int e = errno;
    ok = setUnixError(error, e, strprintf("close(%s): %s", temp.c_str(), systemErrorText(e).c_str()));
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    int e = errno;
    ok = setUnixError(error, e,
                      strprintf("rename(%s, %s): %s", temp.c_str(), path.c_str(), systemErrorText(e).c_str()));
  }
  if (!ok) {
    ::unlink(temp.c_str());
    LOG_ERROR("error transferring bytes to %s", path.c_str());
    return false;
  }
  if (bytesWritten) *bytesWritten = out.bytesWritten();
  return true;
}

}  // namespace loomkit
