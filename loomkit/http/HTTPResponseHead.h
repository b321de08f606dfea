// The head of an HTTP response as a client reads it: the status line and the header fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// A plain value once read; used by one thread while reading.
class HTTPResponseHead {
 public:
  // The longest head (status line and header lines, CR LF included) and the most header lines.
  static constexpr uint64_t kMaxHeadLength = 65536;
  static constexpr size_t kMaxHeaderCount = 100;
  // The longest single line, CR LF included.
  static constexpr uint64_t kMaxLineLength = 8192;
  // "HTTPResponseErrorDomain", code -1 for every malformed head.
  static std::string_view errorDomain() { return "HTTPResponseErrorDomain"; }

  // Reads "HTTP/1.x NNN reason" and the header lines up to the empty line. Failures: the line
  // reader's errors ("exceeded maxLength %lu before finding CRLF" for a line beyond
  // kMaxLineLength, an early end as BufferedInputStream's kEndOfStreamCode, a receive failure
  // unchanged), errorDomain() -1 "invalid status line: %@", "invalid response header: %@" (a line
  // without a colon, with blanks before it or an empty name; folded lines included), "too many
  // response headers", "response head exceeds %lu bytes", and "conflicting Content-Length
  // headers" / "invalid Content-Length: %@".
  bool read(BufferedInputStream& is, Error* error = nullptr);

  // "1.1" or "1.0".
  const std::string& version() const { return version_; }
  int statusCode() const { return statusCode_; }
  const std::string& reasonPhrase() const { return reasonPhrase_; }
  // Every header field in the order received, names as sent, values without surrounding blanks.
  const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }
  // The value of the field of that name in any case; fields of one name repeated are joined with
  // ", ". Absent when the response has none.
  std::optional<std::string> headerForKey(std::string_view name) const;
  // The body length announced by "Content-Length", absent without one.
  const std::optional<uint64_t>& contentLength() const { return contentLength_; }
  // True when a comma-separated header holds the token (any case), e.g. "Connection" "close".
  bool headerHasToken(std::string_view name, std::string_view token) const;

 private:
  bool parseStatusLine(const std::string& line, Error* error);
  bool parseHeaderLine(const std::string& line, Error* error);

  std::string version_;
  int statusCode_ = 0;
  std::string reasonPhrase_;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::optional<uint64_t> contentLength_;
};

}  // namespace loomkit
