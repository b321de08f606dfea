// The output side of a connected TCP socket, with a fixed 60-second wait for room to send.
#pragma once

#include <cstdint>
#include <string>

#include "loomkit/io/OutputStream.h"

namespace loomkit {

// Used by one thread at a time. The socket belongs to the caller (the connection object), which
// closes it; the stream never does.
class SocketOutputStream : public OutputStream {
 public:
  // Streams into the connected socket fd; fd must stay open for the life of the stream.
  explicit SocketOutputStream(int fd) : fd_(fd) {}

  // "SocketOutputStreamErrorDomain", the domain of the write time-out.
  static const std::string& errorDomain();

  // Waits up to 60 seconds until the socket can take data, then sends the block once and returns
  // the count sent (possibly fewer than length), or -1: errorDomain() -11 "write timeout", or
  // "UnixErrorDomain" "select: %s" / "write: %s" (a broken connection gives EPIPE or ECONNRESET).
  // Sending never raises SIGPIPE, whatever the process's signal disposition.
  int64_t write(const void* bytes, uint64_t length, Error* error = nullptr) override;

  uint64_t bytesWritten() const override { return bytesWritten_; }

  // "<SocketOutputStream: fd=%d>".
  std::string description() const override;

  int fd() const { return fd_; }

 private:
  const int fd_;
  uint64_t bytesWritten_ = 0;
};

}  // namespace loomkit
