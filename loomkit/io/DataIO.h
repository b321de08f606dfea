// The binary form of a byte block: a UInt64 count, then the bytes. An absent block is written as
// an empty one.
#pragma once

#include <span>

#include "loomkit/io/BufferedInputStream.h"

namespace loomkit {

// Stateless. The reader clears the value to empty first.
class DataIO {
 public:
  static void write(std::span<const uint8_t> data, Bytes& to);
  // Fails with the stream's errors: the end-of-stream error for a count beyond the data, the
  // absurd-length error for a count above 2147483648.
  static bool read(Bytes& data, BufferedInputStream& from, Error* error = nullptr);
};

}  // namespace loomkit
