// The output side of the stream model.
#pragma once

#include <cstdint>
#include <string>

#include "loomkit/shared/Error.h"

namespace loomkit {

// A stream object is used by one thread at a time. All calls block.
class OutputStream {
 public:
  virtual ~OutputStream() = default;

  // Accepts up to length bytes and returns how many it took (a file, descriptor or socket stream
  // may take fewer than offered), or -1 on failure with *error filled in when error is given.
  virtual int64_t write(const void* bytes, uint64_t length, Error* error = nullptr) = 0;

  // The running total of bytes accepted.
  virtual uint64_t bytesWritten() const = 0;

  virtual std::string description() const = 0;
};

}  // namespace loomkit
