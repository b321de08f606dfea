// File-system helpers shared by every part that writes files.
#pragma once

#include <string>

#include "loomkit/shared/Error.h"

namespace loomkit {

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

  // The path without its last component ("" for a bare name, "/" for "/x").
  static std::string parentPath(const std::string& path);
  static bool exists(const std::string& path);  // follows links
  static bool isDirectory(const std::string& path);
};

}  // namespace loomkit
