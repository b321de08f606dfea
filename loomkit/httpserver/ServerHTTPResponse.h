// One HTTP response being written: status line, headers, then a body from a stream, from bytes in
// memory or from a file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "loomkit/io/InputStream.h"
#include "loomkit/io/OutputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

class ServerSocket;

// Used by the connection's thread only; the output stream (and socket) outlive it. The response
// adds no headers of its own: the caller sets "Content-Length", "Content-Type" and the others.
class ServerHTTPResponse {
 public:
  // A response written to any output stream; writeFullyWithFile needs the socket form below.
  ServerHTTPResponse(int code, OutputStream& os) : os_(os), code_(code) {}
  // A response written to a connection's socket.
  ServerHTTPResponse(int code, ServerSocket& socket);

  // Sets the header of that name (exact spelling), replacing its value if it is already set;
  // headers are written in the order they were first set.
  void setHeader(std::string value, const std::string& name);
  // "Connection: keep-alive".
  void setKeepAliveHeader() { setHeader("keep-alive", "Connection"); }

  int code() const { return code_; }
  OutputStream& outputStream() { return os_; }
  const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }
  // "OK", "Not Modified", "Bad Request", "Not Found", "Internal Server Error" for 200, 304, 400,
  // 404, 500; "Unknown" for every other code (403 included).
  std::string textForCode() const;

  // Writes "HTTP/1.1 %d %@" CR LF, each header as NAME ": " VALUE CR LF, an empty line, and then,
  // when given, copies body to the output stream (paced by the throttle settings). Fails with the
  // first failed write or copy and its error.
  bool writeFullyWithBody(InputStream* body, Error* error = nullptr);
  // The same with a body already in memory (a cached answer): a small body leaves in one send
  // with the header block.
  bool writeFullyWithBytes(std::span<const uint8_t> body, Error* error = nullptr);
  // The same with length bytes of the open file fileFD from offset as the body, sent by the
  // system from the file to the socket without pacing (ServerSocket::sendFile). Only for
  // responses made on a socket; a response on another stream stops the program.
  bool writeFullyWithFile(int fileFD, uint64_t offset, uint64_t length, Error* error = nullptr);

 private:
  class Head;

  OutputStream& os_;
  ServerSocket* socket_ = nullptr;
  int code_;
  std::vector<std::pair<std::string, std::string>> headers_;
};

}  // namespace loomkit
