// One HTTP request as the server reads it: the start line and the header block, no body.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Used by the connection's thread only; reads from the connection's buffered stream, which
// outlives it. Bytes the buffer holds beyond this request's header block stay in the stream for
// the next request, so a client may send its requests back to back.
class ServerHTTPRequest {
 public:
  // Domains of the two parse failures (code -1).
  static std::string_view startLineErrorDomain() { return "HTTPErrorDomain"; }
  static std::string_view headerErrorDomain() { return "HTTPResponseErrorDomain"; }
  // The most header lines one request may carry.
  static constexpr size_t kMaxHeaderCount = 100;

  explicit ServerHTTPRequest(BufferedInputStream& is) : is_(is) {}

  // Reads the start line and the header lines up to the empty line; together they may be at
  // most maxLength bytes, CR LF included. The start line must read METHOD TARGET HTTP/1.x, the
  // target optionally with "?" and a query string; each header line NAME, a colon, white space
  // and a non-empty value. Failures: the line reader's errors ("exceeded maxLength %lu before
  // finding CRLF", the end of the stream, the socket's time-out), startLineErrorDomain() -1
  // "invalid response line: %@", headerErrorDomain() -1 "invalid response header: %@" (the line)
  // or "too many request headers". A repeated header name replaces the earlier value (logged at
  // WARN as "dumping request header %@ = %@"). The method is not checked.
  bool read(uint64_t maxLength, Error* error = nullptr);

  const std::string& method() const { return method_; }
  // The target without its query string.
  const std::string& pathInfo() const { return pathInfo_; }
  // The text after "?", absent when the target has none.
  const std::optional<std::string>& queryString() const { return queryString_; }
  // The version after "HTTP/", e.g. "1.1".
  const std::string& protocol() const { return protocol_; }
  // Header values by lower-case (ASCII) name.
  const std::map<std::string, std::string>& headers() const { return headers_; }
  // The value of the header of that name in any case, absent when the request has none.
  std::optional<std::string> headerForKey(std::string_view name) const;

  // "<ServerHTTPRequest %@ %@%@>" (method, path, query string or nothing).
  std::string description() const;

  // The ASCII lower-case form of a header name.
  static std::string lowercaseName(std::string_view name);

 private:
  bool parseStartLine(const std::string& line, Error* error);
  bool parseHeaderLine(const std::string& line, Error* error);

  BufferedInputStream& is_;
  std::string method_;
  std::string pathInfo_;
  std::optional<std::string> queryString_;
  std::string protocol_;
  std::map<std::string, std::string> headers_;
};

}  // namespace loomkit
