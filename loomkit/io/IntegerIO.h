// The binary form of 32- and 64-bit integers: big-endian, signed values as two's complement.
#pragma once

#include <cstdint>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"

namespace loomkit {

// Stateless. Writers append to a buffer (never fail) or write to a stream (fail with it); readers
// clear the value to 0 first and fail with the stream's exact-read error.
class IntegerIO {
 public:
  static void writeInt32(int32_t value, Bytes& to);
  static void writeUInt32(uint32_t value, Bytes& to);
  static void writeInt64(int64_t value, Bytes& to);
  static void writeUInt64(uint64_t value, Bytes& to);

  static bool writeInt32(int32_t value, BufferedOutputStream& to, Error* error = nullptr);
  static bool writeUInt32(uint32_t value, BufferedOutputStream& to, Error* error = nullptr);
  static bool writeInt64(int64_t value, BufferedOutputStream& to, Error* error = nullptr);
  static bool writeUInt64(uint64_t value, BufferedOutputStream& to, Error* error = nullptr);

  static bool readInt32(int32_t& value, BufferedInputStream& from, Error* error = nullptr);
  static bool readUInt32(uint32_t& value, BufferedInputStream& from, Error* error = nullptr);
  static bool readInt64(int64_t& value, BufferedInputStream& from, Error* error = nullptr);
  static bool readUInt64(uint64_t& value, BufferedInputStream& from, Error* error = nullptr);
};

}  // namespace loomkit
