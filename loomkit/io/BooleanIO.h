// The binary form of a boolean: one byte, 0 or 1; any non-zero byte reads as true.
#pragma once

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"

namespace loomkit {

// Stateless. The reader clears the value to false first.
class BooleanIO {
 public:
  static void write(bool value, Bytes& to);
  static bool write(bool value, BufferedOutputStream& to, Error* error = nullptr);
  static bool read(bool& value, BufferedInputStream& from, Error* error = nullptr);
};

}  // namespace loomkit
