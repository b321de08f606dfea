// A set of photo digests kept whole in a file: the library's "library_sha1s.dat" (every digest
// ever cataloged) and "ignored_sha1s.dat" (digests the user chose to ignore).
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

#include "loomkit/shared/Error.h"

namespace fotello {

// Used by one thread at a time. The file has no lock: the agent's cataloging thread is the only
// writer of the library set, the desktop application the only writer of the ignored set.
class SHA1DatFile {
 public:
  using SHA1Set = std::unordered_set<std::string>;

  // The two fixed files of a library; the set starts empty and nothing is read yet.
  static SHA1DatFile libraryDatFile(std::string_view iPhotoLibraryPath);
  static SHA1DatFile ignoredDatFile(std::string_view iPhotoLibraryPath);
  // A set file at any path.
  explicit SHA1DatFile(std::string path);

  // Adds the file's digests to the set; a missing file adds nothing and succeeds, a partial last
  // record is ignored. On a read failure the digests read so far stay in the set.
  bool load(loomkit::Error* error = nullptr);
  const SHA1Set& allSHA1s() const { return sha1s_; }
  void addSHA1s(const SHA1Set& sha1s);
  // Rewrites the file in place (mode 0644) with one record per digest; its directory must exist.
  // A member that is not 40 hexadecimal characters is left out with a warning. An empty set
  // writes nothing: the file is neither created nor truncated. Stops at the first failed write.
  bool save(loomkit::Error* error = nullptr) const;

  const std::string& path() const { return path_; }
  // "<SHA1DatFile: path=%@, %lu sha1s>".
  std::string description() const;

 private:
  std::string path_;
  SHA1Set sha1s_;
};

}  // namespace fotello
