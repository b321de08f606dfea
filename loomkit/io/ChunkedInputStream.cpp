#include "loomkit/io/ChunkedInputStream.h"

#include <algorithm>
#include <string>

#include "loomkit/io/InputStreams.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// The line as it reads in a message: without its CR LF.
std::string withoutCRLF(std::string line) {
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.resize(line.size() - 2);
  return line;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

ChunkedInputStream::ChunkedInputStream(std::unique_ptr<BufferedInputStream> underlyingStream)
    : owned_(std::move(underlyingStream)), underlyingStream_(*owned_) {}

ChunkedInputStream::ChunkedInputStream(BufferedInputStream& underlyingStream) : underlyingStream_(underlyingStream) {}

bool ChunkedInputStream::readChunkLength(Error* error) {
  std::optional<std::string> line = InputStreams::readLineWithCRLF(underlyingStream_, kMaxLineLength, error);
  if (!line) return false;
  uint64_t length = 0;
  size_t digits = 0;
  for (char c : *line) {
    int value = hexValue(c);
    if (value < 0) break;
    if (length >> 59) {  // one more digit would reach 2^63
      digits = 0;
      break;
    }
    length = length * 16 + static_cast<uint64_t>(value);
    ++digits;
  }
  if (digits == 0) {
    return setError(error, errorDomain(), -1, strprintf("invalid chunk length: %s", withoutCRLF(*line).c_str()));
  }
  LOG_TRACE("chunk length = %lu", static_cast<unsigned long>(length));
  chunkLength_ = length;
  received_ = 0;
  return true;
}

bool ChunkedInputStream::readTrailer(Error* error) {
  for (int i = 0; i <= kMaxTrailerLines; ++i) {
    Error local;
    std::optional<std::string> line = InputStreams::readLineWithCRLF(underlyingStream_, kMaxLineLength, &local);
    if (!line) {
      // A sender that closes right after the last chunk sent the whole body all the same.
      if (local.is(BufferedInputStream::errorDomain(), BufferedInputStream::kEndOfStreamCode)) return true;
      return passError(error, local);
    }
    if (*line == "\r\n") return true;
  }
  return setError(error, errorDomain(), -1, "too many trailer lines after the last chunk");
}

int64_t ChunkedInputStream::read(void* buffer, uint64_t capacity, Error* error) {
  if (ended_) return 0;
  if (received_ >= chunkLength_) {
    if (!readChunkLength(error)) return -1;
    if (chunkLength_ == 0) {
      if (!readTrailer(error)) return -1;
      ended_ = true;
      return 0;
    }
  }
  if (capacity == 0) return 0;
  int64_t n = underlyingStream_.read(buffer, std::min(capacity, chunkLength_ - received_), error);
  if (n < 0) return -1;
  if (n == 0) {
    setError(error, BufferedInputStream::errorDomain(), BufferedInputStream::kEndOfStreamCode,
             strprintf("EOF on %s after %lu of %lu bytes of a chunk", description().c_str(),
                       static_cast<unsigned long>(received_), static_cast<unsigned long>(chunkLength_)));
    return -1;
  }
  received_ += static_cast<uint64_t>(n);
  if (received_ == chunkLength_) {
    char crlf[2];
    if (!underlyingStream_.readExactly(2, crlf, error)) return -1;
    if (crlf[0] != '\r' || crlf[1] != '\n') {
      setError(error, errorDomain(), -1, "missing CRLF at end of chunk!");
      return -1;
    }
  }
  return n;
}

std::string ChunkedInputStream::description() const {
  return strprintf("<ChunkedInputStream: underlying=%s>", underlyingStream_.description().c_str());
}

}  // namespace loomkit
