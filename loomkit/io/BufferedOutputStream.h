// An 8 KiB write buffer in front of any output stream.
#pragma once

#include <cstring>
#include <memory>
#include <string_view>

#include "loomkit/io/OutputStream.h"

namespace loomkit {

// Used by one thread at a time; owns the underlying stream. Nothing is flushed on destruction:
// owners call flush() before they let the stream go.
class BufferedOutputStream final : public OutputStream {
 public:
  static constexpr uint64_t kBufferSize = 8192;
  // Code of the failure when the underlying stream accepted 0 bytes.
  static constexpr int64_t kZeroBytesWrittenCode = -13;

  // "BufferedOutputStreamErrorDomain".
  static std::string_view errorDomain();

  // A missing stream is a programming error that stops the program ("write: os can't be nil").
  explicit BufferedOutputStream(std::unique_ptr<OutputStream> os);

  // Flushes first when the bytes do not fit behind the pending ones. Up to 8192 bytes are then
  // buffered; a longer block goes straight to the underlying stream until all of it is accepted
  // (kZeroBytesWrittenCode "0 bytes written to underlying stream" if it takes none). Returns
  // length or -1.
  int64_t write(const void* bytes, uint64_t length, Error* error = nullptr) override;

  // True exactly when write() took all length bytes.
  bool writeExactly(const void* bytes, uint64_t length, Error* error = nullptr) {
    if (length <= kBufferSize && pos_ + length <= kBufferSize) {  // the common case: it fits
      if (length > 0) std::memcpy(buf_ + pos_, bytes, length);
      pos_ += length;
      totalBytesWritten_ += length;
      return true;
    }
    return write(bytes, length, error) >= 0;
  }

  // Hands all pending bytes to the underlying stream; kZeroBytesWrittenCode "0 bytes written to
  // underlying stream %@" when it takes none.
  bool flush(Error* error = nullptr);

  // The bytes accepted from callers, buffered or not.
  uint64_t bytesWritten() const override { return totalBytesWritten_; }
  OutputStream& underlyingStream() const { return *os_; }
  // "<BufferedOutputStream: underlying=%@>".
  std::string description() const override;

 private:
  // Writes all length bytes to the underlying stream.
  bool drain(const uint8_t* bytes, uint64_t length, bool nameStream, Error* error);

  std::unique_ptr<OutputStream> os_;
  uint64_t pos_ = 0;  // bytes pending in buf_
  uint64_t totalBytesWritten_ = 0;
  uint8_t buf_[kBufferSize];
};

}  // namespace loomkit
