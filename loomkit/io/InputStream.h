// The input side of the stream model: everything read from files, sockets and buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Domain of the generic input failures: a line too long, an absurd read length, a receive time-out.
inline constexpr std::string_view kInputStreamErrorDomain = "InputStreamErrorDomain";

// A stream object is used by one thread at a time. All calls block.
class InputStream {
 public:
  virtual ~InputStream() = default;

  // Places at most capacity bytes in buffer and returns their count (possibly fewer), 0 at the end
  // of the stream, or -1 on failure with *error filled in when error is given.
  virtual int64_t read(void* buffer, uint64_t capacity, Error* error = nullptr) = 0;

  // All remaining bytes, read in 8192-byte steps; nothing when a read failed (its error stands).
  virtual std::optional<Bytes> slurp(Error* error = nullptr);

  // The text form used in logs and error descriptions, e.g. "<FileInputStream: fd=3 path=/x>".
  virtual std::string description() const = 0;
};

// Gives independent streams over one source, each positioned at its start.
class InputStreamFactory {
 public:
  virtual ~InputStreamFactory() = default;
  virtual std::unique_ptr<InputStream> newInputStream() const = 0;
  virtual std::string description() const = 0;
};

}  // namespace loomkit
