// The lock a library tool process holds on a library while it changes it.
#pragma once

#include <string>

#include "loomkit/shared/Error.h"

namespace fotello {

// Owned by the one thread of the tool. The lock is an exclusive flock on "photolib.lock" in the
// library, which holds the holder's process id while it is held and is emptied on release (the
// file stays, so that no second process can lock an unlinked copy). A process that ends in any
// way releases the flock with its descriptor, so a stale pid in the file never blocks anyone.
class LibraryLock {
 public:
  // Takes the lock of the library at the path. Fails with PhotolibErrorDomain -1 "library %s is
  // in use by process %s" when another process holds it, or with the system's error.
  static bool acquire(const std::string& libraryPath, LibraryLock* lock, loomkit::Error* error = nullptr);

  LibraryLock() = default;
  ~LibraryLock();
  LibraryLock(const LibraryLock&) = delete;
  LibraryLock& operator=(const LibraryLock&) = delete;

  // libraryPath + "/photolib.lock".
  static std::string lockPathForLibrary(const std::string& libraryPath);

 private:
  int fd_ = -1;
};

}  // namespace fotello
