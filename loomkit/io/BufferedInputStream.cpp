#include "loomkit/io/BufferedInputStream.h"

#include <algorithm>

#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {
// Destinations of exact reads grow by at most this much, or by what already arrived, per step.
constexpr uint64_t kGrowthStep = 64 * 1024;

bool failAbsurdLength(uint64_t length, Error* error) {
  return setError(error, kInputStreamErrorDomain, -1,
                  strprintf("absurd length %lu requested", static_cast<unsigned long>(length)));
}
}  // namespace

std::string_view BufferedInputStream::errorDomain() { return "BufferedInputStreamErrorDomain"; }

BufferedInputStream::BufferedInputStream(std::unique_ptr<InputStream> underlyingStream)
    : underlying_(std::move(underlyingStream)) {}

int64_t BufferedInputStream::read(void* buffer, uint64_t capacity, Error* error) {
  if (capacity == 0) return 0;
  if (pos_ == len_) {
    if (capacity > kBufferSize) {
      int64_t n = underlying_->read(buffer, capacity, error);
      if (n > 0) totalBytesReceived_ += static_cast<uint64_t>(n);
      return n;
    }
    int64_t n = underlying_->read(buf_, kBufferSize, error);
    if (n <= 0) return n;
    pos_ = 0;
    len_ = static_cast<uint64_t>(n);
  }
  uint64_t count = std::min(capacity, len_ - pos_);
  std::memcpy(buffer, buf_ + pos_, count);
  pos_ += count;
  totalBytesReceived_ += count;
  return static_cast<int64_t>(count);
}

bool BufferedInputStream::fill(uint8_t* into, uint64_t count, uint64_t before, uint64_t wanted, Error* error) {
  uint64_t got = 0;
  while (got < count) {
    int64_t n = read(into + got, count - got, error);
    if (n < 0) return false;
    if (n == 0) {
      return setError(error, errorDomain(), kEndOfStreamCode,
                      strprintf("EOF on %s after %lu of %lu bytes received", description().c_str(),
                                static_cast<unsigned long>(before + got), static_cast<unsigned long>(wanted)));
    }
    got += static_cast<uint64_t>(n);
  }
  return true;
}

bool BufferedInputStream::readExactlyUnbuffered(uint64_t length, uint8_t* into, Error* error) {
  if (length > kMaxExactLength) return failAbsurdLength(length, error);
  return fill(into, length, 0, length, error);
}

template <class Buffer>
bool BufferedInputStream::appendExactly(uint64_t length, Buffer& out, Error* error) {
  if (length > kMaxExactLength) return failAbsurdLength(length, error);
  const size_t start = out.size();
  uint64_t got = 0;
  while (got < length) {
    uint64_t step = std::min(length - got, std::max(kGrowthStep, got));
    out.resize(start + got + step);
    if (!fill(reinterpret_cast<uint8_t*>(out.data()) + start + got, step, got, length, error)) {
      out.resize(start);
      return false;
    }
    got += step;
  }
  return true;
}

bool BufferedInputStream::readExactlyAppending(uint64_t length, Bytes& out, Error* error) {
  return appendExactly(length, out, error);
}

bool BufferedInputStream::readExactlyAppending(uint64_t length, std::string& out, Error* error) {
  return appendExactly(length, out, error);
}

std::optional<Bytes> BufferedInputStream::readExactly(uint64_t length, Error* error) {
  Bytes out;
  if (!appendExactly(length, out, error)) return std::nullopt;
  return out;
}

std::string BufferedInputStream::description() const {
  return strprintf("<BufferedInputStream: underlying=%s>", underlying_->description().c_str());
}

}  // namespace loomkit
