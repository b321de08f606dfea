#include "loomkit/io/InputStreams.h"

#include "loomkit/io/Utf8.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

std::optional<Bytes> InputStreams::slurp(InputStream& stream, Error* error) {
  Bytes out;
  uint8_t chunk[8192];
  for (;;) {
    int64_t n = stream.read(chunk, sizeof chunk, error);
    if (n < 0) return std::nullopt;
    if (n == 0) return out;
    out.insert(out.end(), chunk, chunk + n);
  }
}

std::optional<std::string> InputStreams::readLineWithCRLF(BufferedInputStream& stream, uint64_t maxLength,
                                                          Error* error) {
  std::string line;
  for (;;) {
    // The line so far has no CR LF at its end, so it will be at least one byte longer.
    if (line.size() >= maxLength) {
      setError(error, kInputStreamErrorDomain, -1,
               strprintf("exceeded maxLength %lu before finding CRLF", static_cast<unsigned long>(maxLength)));
      return std::nullopt;
    }
    char c;
    if (!stream.readExactly(1, &c, error)) return std::nullopt;
    line.push_back(c);
    if (c == '\n' && line.size() >= 2 && line[line.size() - 2] == '\r') break;
  }
  if (!Utf8::isValid(line)) {
    setError(error, kInputStreamErrorDomain, -1, "line is not valid UTF-8");
    return std::nullopt;
  }
  LOG_TRACE("got line <%s>", line.c_str());
  return line;
}

}  // namespace loomkit
