// Operations on any input stream: read it all, or read one CR LF line.
#pragma once

#include <optional>
#include <string>

#include "loomkit/io/BufferedInputStream.h"

namespace loomkit {

// Stateless; each operation uses only the stream it is given.
class InputStreams {
 public:
  // All remaining bytes, read in 8192-byte steps until a read returns 0; nothing when a read
  // failed (its error stands).
  static std::optional<Bytes> slurp(InputStream& stream, Error* error = nullptr);

  // One line ending in CR LF (a lone LF does not end it), read a byte at a time, returned with its
  // CR LF. Fails with "InputStreamErrorDomain" -1 "exceeded maxLength %lu before finding CRLF"
  // when the line would be longer than maxLength bytes, "line is not valid UTF-8" when it is not
  // text, or with the error of the failed read.
  static std::optional<std::string> readLineWithCRLF(BufferedInputStream& stream, uint64_t maxLength,
                                                     Error* error = nullptr);
};

}  // namespace loomkit
