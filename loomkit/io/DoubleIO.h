// The binary form of a double: its "%f" text (six digits after the point) as a present string.
#pragma once

#include <string_view>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"

namespace loomkit {

// Stateless. The text is formatted and parsed independently of the process's locale. The reader
// clears the value to 0.0 first; a text that does not parse as a decimal number reads as 0.0.
class DoubleIO {
 public:
  // "DoubleIOErrorDomain".
  static std::string_view errorDomain();

  static void write(double value, Bytes& to);
  static bool write(double value, BufferedOutputStream& to, Error* error = nullptr);
  // Fails with the stream's errors, or with -1 "nil string; expected a double" for an absent string.
  static bool read(double& value, BufferedInputStream& from, Error* error = nullptr);
};

}  // namespace loomkit
