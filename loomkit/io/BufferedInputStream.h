// An 8 KiB read buffer in front of any input stream, with exact-length reads.
#pragma once

#include <cstring>
#include <memory>
#include <string_view>

#include "loomkit/io/InputStream.h"

namespace loomkit {

// Used by one thread at a time; owns the underlying stream.
class BufferedInputStream final : public InputStream {
 public:
  static constexpr uint64_t kBufferSize = 8192;
  // The longest exact read that is attempted; longer requests are refused as absurd.
  static constexpr uint64_t kMaxExactLength = 0x80000000;
  // Code of the end-of-stream failure inside an exact read.
  static constexpr int64_t kEndOfStreamCode = -4;

  // "BufferedInputStreamErrorDomain".
  static std::string_view errorDomain();

  explicit BufferedInputStream(std::unique_ptr<InputStream> underlyingStream);

  // Serves buffered bytes first. With the buffer empty, a capacity above 8192 goes straight to the
  // underlying stream; a smaller one refills the buffer with one underlying read of up to 8192
  // bytes (its -1 or 0 passed back) and serves from it.
  int64_t read(void* buffer, uint64_t capacity, Error* error = nullptr) override;

  // Reads exactly length bytes into `into`. Fails at once with "InputStreamErrorDomain" -1
  // "absurd length %lu requested" above kMaxExactLength; succeeds at once for 0. A failed read
  // fails with its error; an early end fails with kEndOfStreamCode "EOF on %@ after %lu of %lu
  // bytes received" (this stream's text form, bytes received, bytes wanted).
  bool readExactly(uint64_t length, void* into, Error* error = nullptr) {
    if (length <= len_ - pos_) {  // the common case: all of it is in the buffer
      if (length > 0) std::memcpy(into, buf_ + pos_, length);
      pos_ += length;
      totalBytesReceived_ += length;
      return true;
    }
    return readExactlyUnbuffered(length, static_cast<uint8_t*>(into), error);
  }

  // The same into a new buffer of exactly length bytes, or nothing. The buffer grows as bytes
  // arrive, so a huge announced length costs memory only once the bytes exist.
  std::optional<Bytes> readExactly(uint64_t length, Error* error = nullptr);

  // The same, appending to out (left as it was on failure).
  bool readExactlyAppending(uint64_t length, Bytes& out, Error* error = nullptr);
  bool readExactlyAppending(uint64_t length, std::string& out, Error* error = nullptr);

  // The total of bytes handed out by read and the exact reads.
  uint64_t bytesReceived() const { return totalBytesReceived_; }
  // The bytes read from the underlying stream and not yet handed out.
  uint64_t bufferedByteCount() const { return len_ - pos_; }
  // The stream read from, still owned by this one.
  InputStream& underlyingStream() const { return *underlying_; }
  // "<BufferedInputStream: underlying=%@>".
  std::string description() const override;

 private:
  bool readExactlyUnbuffered(uint64_t length, uint8_t* into, Error* error);
  // Reads exactly count bytes; the end-of-stream error counts `before` bytes already received of
  // `wanted`.
  bool fill(uint8_t* into, uint64_t count, uint64_t before, uint64_t wanted, Error* error);
  template <class Buffer>
  bool appendExactly(uint64_t length, Buffer& out, Error* error);

  std::unique_ptr<InputStream> underlying_;
  uint64_t pos_ = 0;  // the unread bytes are buf_[pos_, len_)
  uint64_t len_ = 0;
  uint64_t totalBytesReceived_ = 0;
  uint8_t buf_[kBufferSize];
};

}  // namespace loomkit
