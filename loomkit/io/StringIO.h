// The binary form of a string that may be absent: a boolean presence flag, then for a present
// string a UInt64 byte count and its UTF-8 bytes.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"

namespace loomkit {

// Stateless. Readers clear the value to absent first; bytes that are not valid UTF-8 read as an
// absent string and the read still succeeds.
class StringIO {
 public:
  static void write(std::optional<std::string_view> value, Bytes& to);
  static bool write(std::optional<std::string_view> value, BufferedOutputStream& to, Error* error = nullptr);

  // Fails with the stream's errors: the end-of-stream error for a count beyond the data, the
  // absurd-length error for a count above 2147483648.
  static bool read(std::optional<std::string>& value, BufferedInputStream& from, Error* error = nullptr);
  // The same, handing a present string to the caller as a new object (null when absent).
  static bool newString(std::unique_ptr<std::string>& value, BufferedInputStream& from, Error* error = nullptr);
};

}  // namespace loomkit
