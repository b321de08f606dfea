#include "loomkit/io/BufferedOutputStream.h"

#include <cstdlib>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

std::string_view BufferedOutputStream::errorDomain() { return "BufferedOutputStreamErrorDomain"; }

BufferedOutputStream::BufferedOutputStream(std::unique_ptr<OutputStream> os) : os_(std::move(os)) {
  if (!os_) {
    LOG_ERROR("write: os can't be nil");
    std::abort();
  }
}

bool BufferedOutputStream::drain(const uint8_t* bytes, uint64_t length, bool nameStream, Error* error) {
  while (length > 0) {
    int64_t n = os_->write(bytes, length, error);
    if (n < 0) return false;
    if (n == 0) {
      return setError(error, errorDomain(), kZeroBytesWrittenCode,
                      nameStream ? "0 bytes written to underlying stream " + os_->description()
                                 : std::string("0 bytes written to underlying stream"));
    }
    bytes += n;
    length -= static_cast<uint64_t>(n);
  }
  return true;
}

int64_t BufferedOutputStream::write(const void* bytes, uint64_t length, Error* error) {
  if (length > kBufferSize - pos_ && !flush(error)) return -1;
  if (length <= kBufferSize) {
    if (length > 0) std::memcpy(buf_ + pos_, bytes, length);
    pos_ += length;
  } else if (!drain(static_cast<const uint8_t*>(bytes), length, false, error)) {
    return -1;
  }
  totalBytesWritten_ += length;
  return static_cast<int64_t>(length);
}

bool BufferedOutputStream::flush(Error* error) {
  if (!drain(buf_, pos_, true, error)) return false;
  pos_ = 0;
  return true;
}

std::string BufferedOutputStream::description() const {
  return strprintf("<BufferedOutputStream: underlying=%s>", os_->description().c_str());
}

}  // namespace loomkit
