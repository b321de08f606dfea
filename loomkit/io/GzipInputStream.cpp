#include "loomkit/io/GzipInputStream.h"

#include <algorithm>
#include <limits>

#include "loomkit/shared/Format.h"

namespace loomkit {

GzipInputStream::GzipInputStream(std::unique_ptr<InputStream> compressed, uint64_t maxLength)
    : owned_(std::move(compressed)), compressed_(*owned_), maxLength_(maxLength), input_(new uint8_t[kInputBufferSize]) {}

GzipInputStream::GzipInputStream(InputStream& compressed, uint64_t maxLength)
    : compressed_(compressed), maxLength_(maxLength), input_(new uint8_t[kInputBufferSize]) {}

GzipInputStream::~GzipInputStream() {
  if (initialized_) inflateEnd(&z_);
}

bool GzipInputStream::fillInput(Error* error) {
  int64_t n = compressed_.read(input_.get(), kInputBufferSize, error);
  if (n < 0) return false;
  if (n == 0) {
    inputEnded_ = true;
    return true;
  }
  sawInput_ = true;
  z_.next_in = input_.get();
  z_.avail_in = static_cast<uInt>(n);
  return true;
}

int64_t GzipInputStream::read(void* buffer, uint64_t capacity, Error* error) {
  if (done_ || capacity == 0) return 0;
  if (!initialized_) {
    if (inflateInit2(&z_, 15 + 32) != Z_OK) {
      setError(error, errorDomain(), -1, "cannot start decompression");
      return -1;
    }
    initialized_ = true;
  }
  const uInt room = static_cast<uInt>(std::min<uint64_t>(capacity, std::numeric_limits<uInt>::max()));
  z_.next_out = static_cast<Bytef*>(buffer);
  z_.avail_out = room;
  while (z_.avail_out == room) {
    if (z_.avail_in == 0 && !inputEnded_) {
      if (!fillInput(error)) return -1;
    }
    if (z_.avail_in == 0 && inputEnded_) {
      if (memberEnded_ || !sawInput_) {
        done_ = true;
        return 0;
      }
      setError(error, errorDomain(), -2, "compressed data ended early");
      return -1;
    }
    if (memberEnded_) {
      // More bytes after a complete member: the next member.
      inflateReset(&z_);
      memberEnded_ = false;
    }
    int rc = inflate(&z_, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      memberEnded_ = true;
    } else if (rc != Z_OK && !(rc == Z_BUF_ERROR && z_.avail_in == 0)) {
      setError(error, errorDomain(), -1,
               strprintf("damaged compressed data: %s", z_.msg ? z_.msg : "inflate failed"));
      return -1;
    }
  }
  const uint64_t count = room - z_.avail_out;
  if (count > maxLength_ - produced_) {
    setError(error, errorDomain(), -3,
             strprintf("decompressed data exceeds %llu bytes", static_cast<unsigned long long>(maxLength_)));
    return -1;
  }
  produced_ += count;
  return static_cast<int64_t>(count);
}

std::string GzipInputStream::description() const {
  return strprintf("<GzipInputStream: compressed=%s>", compressed_.description().c_str());
}

}  // namespace loomkit
