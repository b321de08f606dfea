// The library's "received_sha1s.dat": one record appended per photo retrieved from a peer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "loomkit/shared/Error.h"

namespace fotello {

// Domain of the received set's own failures (code -1).
inline constexpr std::string_view kReceivedDatFileErrorDomain = "ReceivedDatFileErrorDomain";

// Used by one thread at a time. Both programs append to the file without a lock; each append is
// one 32-byte write at its end, and readers ignore a partial last record.
class ReceivedDatFile {
 public:
  explicit ReceivedDatFile(std::string_view iPhotoLibraryPath);

  // Appends one record (the file is created when missing; its directory must exist). A digest
  // that is not 40 hexadecimal characters fails with "sha1 must be 20 bytes" and writes nothing.
  bool appendSHA1(std::string_view sha1, loomkit::Error* error = nullptr) const;
  // Every digest of the file (duplicates once); an empty set for a missing file; nothing on a
  // read failure.
  std::optional<std::unordered_set<std::string>> allSHA1s(loomkit::Error* error = nullptr) const;

  const std::string& datFilePath() const { return datFilePath_; }
  // "<ReceivedDatFile: path=%@>".
  std::string description() const;

 private:
  std::string datFilePath_;
};

}  // namespace fotello
