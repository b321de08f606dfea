// File-system helpers shared by every part that writes files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "loomkit/io/OutputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Domain of the file-system helpers' own failures.
inline constexpr std::string_view kFileErrorDomain = "FileErrorDomain";

// Stateless; safe from any thread.
class FileSystem {
 public:
  // Makes sure the directory that would hold path exists, creating missing directories.
  // Fails with "FileErrorDomain" -1 "parent path %@ exists and is not a directory".
  static bool ensureParentPathExistsForPath(const std::string& path, Error* error = nullptr);

  // Sets an existing file's access and modification times to now (whole seconds), or creates it
  // empty. Failures: "utimes(%@): %s", or the system text, in "UnixErrorDomain".
  static bool touchFileAtPath(const std::string& path, Error* error = nullptr);

  // Replaces path with the given bytes so that readers see either the old file or the whole new
  // one: a unique temporary file beside it (mode 0600, which the target keeps), then rename.
  // Failures: "mkstemp(%s): %s", "write: %s", "rename(%@, %@): %s" (UnixErrorDomain).
  static bool writeFileAtomically(const std::string& path, const void* bytes, size_t length, Error* error = nullptr);

  // The replacement both atomic writers share: fill writes the new contents into the temporary
  // file's stream; on success the file is closed and renamed over path, and *bytesWritten (when
  // given) receives its length. On failure the temporary file is removed, the old one stays, and
  // "error transferring bytes to %@" is logged. Failures: "mkstemp(%s): %s", fill's error,
  // "close(%s): %s", "rename(%@, %@): %s" (UnixErrorDomain).
  using Filler = std::function<bool(OutputStream& out, Error* error)>;
  static bool replaceFileAtomically(const std::string& path, const Filler& fill, uint64_t* bytesWritten,
                                    Error* error = nullptr);

  // The path without its last component ("" for a bare name, "/" for "/x").
  static std::string parentPath(const std::string& path);
  static bool exists(const std::string& path);  // follows links
  static bool isDirectory(const std::string& path);
};

}  // namespace loomkit
