// An output stream over a file descriptor that someone else owns.
#pragma once

#include "loomkit/io/OutputStream.h"

namespace loomkit {

// Used by one thread at a time. Never closes the descriptor.
class FDOutputStream final : public OutputStream {
 public:
  explicit FDOutputStream(int fd) : fd_(fd) {}

  // One system write, repeated while interrupted; returns the count accepted (possibly fewer than
  // length), or -1 with "write: %s" in "UnixErrorDomain".
  int64_t write(const void* bytes, uint64_t length, Error* error = nullptr) override;
  uint64_t bytesWritten() const override { return bytesWritten_; }
  // "<FDOutputStream: fd=%d>".
  std::string description() const override;

  // The same single write on any descriptor, without counting; shared with FileOutputStream.
  static int64_t writeToDescriptor(int fd, const void* bytes, uint64_t length, Error* error);

 private:
  int fd_;
  uint64_t bytesWritten_ = 0;
};

}  // namespace loomkit
