// An output stream into a file, opened on the first write.
#pragma once

#include "loomkit/io/OutputStream.h"

namespace loomkit {

// Used by one thread at a time. Holds one descriptor from the first write until close() or
// destruction; a stream that never writes leaves the file untouched.
class FileOutputStream final : public OutputStream {
 public:
  // Writes to path, at the end of an existing file when append is set; touches nothing now.
  explicit FileOutputStream(std::string path, bool append = false);
  ~FileOutputStream() override;
  FileOutputStream(const FileOutputStream&) = delete;
  FileOutputStream& operator=(const FileOutputStream&) = delete;

  // The first call opens path for writing (created with mode 0644; truncated unless appending).
  // One system write, repeated while interrupted; returns the count accepted (possibly fewer), or
  // -1 with the system text of the open or "write: %s", in "UnixErrorDomain".
  int64_t write(const void* bytes, uint64_t length, Error* error = nullptr) override;
  uint64_t bytesWritten() const override { return bytesWritten_; }
  // "<FileOutputStream: fd=%d path=%@>".
  std::string description() const override;

  // Closes the descriptor if open.
  void close();

 private:
  bool append_;
  int fd_ = -1;
  std::string path_;
  uint64_t bytesWritten_ = 0;
};

}  // namespace loomkit
