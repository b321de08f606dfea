// The single-instance lock: an exclusive flock on a file, held for the life of the process.
#pragma once

#include <string>

#include "loomkit/shared/Error.h"

namespace loomkit {

inline constexpr const char* kFlockFileErrorDomain = "FlockFileErrorDomain";

// Stateless. The descriptor it opens is never closed, so the lock lasts until the process exits.
class FlockFile {
 public:
  // Creates the parent directory if needed, opens path (read-only, created with mode 0700) and
  // takes a non-blocking exclusive flock. Failures: "open lock file %@: %s" (UnixErrorDomain);
  // another holder: "FlockFileErrorDomain" 2 "flock(%@): %s"; other lock failures: UnixErrorDomain.
  static bool acquire(const std::string& path, Error* error = nullptr);
};

}  // namespace loomkit
