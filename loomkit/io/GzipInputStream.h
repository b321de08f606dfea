// Decompresses a gzip (or zlib) stream as it is read, with fixed buffers.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "loomkit/io/InputStream.h"

namespace loomkit {

// Used by one thread at a time. Owns or borrows the compressed stream; its own memory is two
// fixed buffers and zlib's window, whatever the length of the data. Concatenated gzip members
// read as one stream, as gzip(1) reads them.
class GzipInputStream final : public InputStream {
 public:
  static constexpr size_t kInputBufferSize = 64 * 1024;
  // "GzipInputStreamErrorDomain": -1 for data that is not compressed or is damaged, -2 for a
  // stream that ends inside the compressed data, -3 for output beyond the limit.
  static std::string_view errorDomain() { return "GzipInputStreamErrorDomain"; }

  // maxLength bounds the decompressed bytes handed out (no bound by default).
  explicit GzipInputStream(std::unique_ptr<InputStream> compressed, uint64_t maxLength = UINT64_MAX);
  // Reads from compressed, which must outlive this stream.
  explicit GzipInputStream(InputStream& compressed, uint64_t maxLength = UINT64_MAX);
  ~GzipInputStream() override;
  GzipInputStream(const GzipInputStream&) = delete;
  GzipInputStream& operator=(const GzipInputStream&) = delete;

  // Up to capacity decompressed bytes, 0 once the compressed stream ended after a complete
  // member, -1 on failure (the compressed stream's own failures unchanged). An empty compressed
  // stream reads as an empty one.
  int64_t read(void* buffer, uint64_t capacity, Error* error = nullptr) override;

  // "<GzipInputStream: compressed=%@>".
  std::string description() const override;

 private:
  bool fillInput(Error* error);

  std::unique_ptr<InputStream> owned_;
  InputStream& compressed_;
  const uint64_t maxLength_;
  z_stream z_{};
  bool initialized_ = false;
  bool inputEnded_ = false;
  bool memberEnded_ = false;  // the last member was complete and no byte followed it yet
  bool sawInput_ = false;
  bool done_ = false;
  uint64_t produced_ = 0;
  std::unique_ptr<uint8_t[]> input_;
};

}  // namespace loomkit
