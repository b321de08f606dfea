// The body of an HTTP response sent with "Transfer-Encoding: chunked", decoded: the bytes of the
// chunks without their size lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "loomkit/io/BufferedInputStream.h"

namespace loomkit {

// Used by one thread at a time. Reads from a buffered stream that it owns, or from one that its
// owner (a client connection) keeps alive for longer; in the latter case the stream stays
// positioned just after the body, so the next response on the connection can be read from it.
class ChunkedInputStream final : public InputStream {
 public:
  // The longest size line or trailer line accepted, CR LF included.
  static constexpr uint64_t kMaxLineLength = 1024;
  // The most trailer lines accepted after the last chunk.
  static constexpr int kMaxTrailerLines = 100;
  // "StreamErrorDomain": code -1 for every malformed body.
  static std::string_view errorDomain() { return "StreamErrorDomain"; }

  explicit ChunkedInputStream(std::unique_ptr<BufferedInputStream> underlyingStream);
  // Reads from underlyingStream, which must outlive this stream.
  explicit ChunkedInputStream(BufferedInputStream& underlyingStream);

  // At the start of each chunk reads its size line (at most kMaxLineLength bytes) and takes the
  // hexadecimal number at its start; whatever follows (a chunk extension) is ignored. A line
  // without a number, or a size of 2^63 or more, fails with -1 "invalid chunk length: %@" (the
  // line without its CR LF). Size 0 ends the body: the trailer lines up to the empty line are
  // read and dropped (the end of the stream there is taken as the end of the trailer), and this
  // read and every later one return 0. Otherwise returns up to
  // capacity bytes of the chunk; once a chunk is complete, the two bytes after it must be CR LF,
  // else -1 "missing CRLF at end of chunk!". Failures of the underlying stream are passed on
  // unchanged (an early end as BufferedInputStream's kEndOfStreamCode).
  int64_t read(void* buffer, uint64_t capacity, Error* error = nullptr) override;

  // True once the zero chunk and the trailer were read: the underlying stream is then positioned
  // just after the body.
  bool atEnd() const { return ended_; }

  // "<ChunkedInputStream: underlying=%@>".
  std::string description() const override;

 private:
  bool readChunkLength(Error* error);
  bool readTrailer(Error* error);

  std::unique_ptr<BufferedInputStream> owned_;
  BufferedInputStream& underlyingStream_;
  uint64_t chunkLength_ = 0;  // size of the current chunk
  uint64_t received_ = 0;     // bytes of the current chunk delivered
  bool ended_ = false;
};

}  // namespace loomkit
