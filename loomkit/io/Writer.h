// Writes text to an output stream through its own 8 KiB buffer.
#pragma once

#include <memory>
#include <string_view>

#include "loomkit/io/BufferedOutputStream.h"

namespace loomkit {

// Used by one thread at a time; owns the buffered stream it creates around the given stream.
class Writer {
 public:
  explicit Writer(std::unique_ptr<OutputStream> os);

  // Writes the text's UTF-8 bytes, without terminator; true exactly when all were accepted.
  bool write(std::string_view text, Error* error = nullptr);
  // Hands the buffered text to the output stream.
  bool flush(Error* error = nullptr);

  BufferedOutputStream& outputStream() { return os_; }

 private:
  BufferedOutputStream os_;
};

}  // namespace loomkit
