// One accepted TCP connection of the server: a descriptor with its two socket streams.
#pragma once

#include <cstdint>
#include <string>

#include "loomkit/io/InputStream.h"
#include "loomkit/io/OutputStream.h"
#include "loomkit/io/SocketInputStream.h"
#include "loomkit/io/SocketOutputStream.h"

namespace loomkit {

// Used by one connection thread at a time. Owns the descriptor from construction until close()
// or destruction. It is itself an input and an output stream that pass every call to the socket
// streams on the descriptor (no buffering). Once closed, reads and writes fail with EBADF and
// never touch the descriptor number, which the system may already have given to another file.
class ServerSocket final : public InputStream, public OutputStream {
 public:
  // Takes ownership of the connected socket fd.
  explicit ServerSocket(int fd);
  // Calls close().
  ~ServerSocket() override;
  ServerSocket(const ServerSocket&) = delete;
  ServerSocket& operator=(const ServerSocket&) = delete;

  // SocketInputStream::read: waits up to the process read time-out, 0 once the peer closed.
  int64_t read(void* buffer, uint64_t capacity, Error* error = nullptr) override;
  std::optional<Bytes> slurp(Error* error = nullptr) override;
  // SocketOutputStream::write; a broken pipe (UnixErrorDomain EPIPE) is also logged at ERROR as
  // "broken pipe on fd %d".
  int64_t write(const void* bytes, uint64_t length, Error* error = nullptr) override;
  uint64_t bytesWritten() const override { return os_.bytesWritten(); }

  // Sends length bytes of the open file fileFD from offset with sendfile(2), waiting like write()
  // for room to send. Fails with the same errors as write() ("sendfile: %s" for the system call),
  // or with "ServerSocketErrorDomain" -1 "file ended after %qu of %qu bytes" when the file is
  // shorter than announced.
  bool sendFile(int fileFD, uint64_t offset, uint64_t length, Error* error = nullptr);
  // Holds back partial frames while on (TCP_CORK), so that a header block and the file after it
  // leave in full segments; turning it off sends what is pending. Failures are ignored.
  void setCorked(bool corked);

  // True from construction until close().
  bool isOpen() const { return fd_ >= 0; }
  // Shuts down the sending direction; the peer then reads the end of the stream. Failure:
  // "UnixErrorDomain" "shutdown(SHUT_WR): %s".
  bool shutdownWrite(Error* error = nullptr);
  // Closes the descriptor (nothing when already closed), logging "closing %@" at TRACE and
  // "close failed: %@" at WARN when the system refuses.
  void close();

  // The descriptor, -1 after close().
  int fd() const { return fd_; }
  // "<ServerSocket: fd=%d>".
  std::string description() const override;

  static std::string_view errorDomain() { return "ServerSocketErrorDomain"; }

 private:
  bool failClosed(const char* call, Error* error) const;
  void logBrokenPipe(const Error& error) const;

  int fd_;
  SocketInputStream is_;
  SocketOutputStream os_;
};

}  // namespace loomkit
