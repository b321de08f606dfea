// The record form shared by the digest set files: 32 bytes each, the 20 bytes of a SHA-1 digest
// followed by 12 zero bytes, with no header, count or trailer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "loomkit/shared/Error.h"

namespace fotello {

// Stateless; safe from any thread.
class SHA1Records {
 public:
  static constexpr size_t kRecordSize = 32;
  static constexpr size_t kDigestSize = 20;
  using Record = uint8_t[kRecordSize];

  // Fills record from a digest text of exactly 40 hexadecimal characters (either case); false for
  // any other text, which therefore never becomes a record of another length or of another digest.
  static bool encode(std::string_view sha1, Record& record);
  // The lower-case hexadecimal text of the record's first 20 bytes.
  static std::string decode(const uint8_t* record);

  // Hands the digest of every whole record of the file at path to each. No file: success with no
  // records. A trailing partial record is ignored. Fails with the file system's error for the
  // size query ("lstat(%@): %s"), the open or a read.
  static bool readFile(const std::string& path, const std::function<void(std::string sha1)>& each,
                       loomkit::Error* error = nullptr);
};

}  // namespace fotello
