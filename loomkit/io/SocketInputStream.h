// The input side of a connected TCP socket, with the process-wide read time-out.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "loomkit/io/InputStream.h"

namespace loomkit {

// Used by one thread at a time. The socket belongs to the caller (the connection object), which
// closes it; the stream never does. The read time-out is a process-wide value read without a lock.
class SocketInputStream : public InputStream {
 public:
  // Streams over the connected socket fd; fd must stay open for the life of the stream.
  explicit SocketInputStream(int fd) : fd_(fd) {}

  // Sets the process-wide read time-out in whole seconds (0 or less: no limit; initially 60) and
  // logs it at INFO. Both programs call it once at start-up.
  static void setReadTimeoutSeconds(int64_t seconds);
  static int64_t readTimeoutSeconds() { return readTimeoutSeconds_.load(std::memory_order_relaxed); }

  // Waits up to the read time-out for data, then receives at most capacity bytes. Returns their
  // count, 0 when the peer closed the connection, or -1: "InputStreamErrorDomain" -11 "recv timeout"
  // when nothing arrived in time, "UnixErrorDomain" "select: %s" or "recv: %s" for system failures.
  // A signal during the wait restarts it with the full time-out.
  int64_t read(void* buffer, uint64_t capacity, Error* error = nullptr) override;

  // "<SocketInputStream: fd=%d>".
  std::string description() const override;

  int fd() const { return fd_; }

 private:
  static std::atomic<int64_t> readTimeoutSeconds_;
  const int fd_;
};

}  // namespace loomkit
