// An input stream over a byte range of a file, opened on the first read.
#pragma once

#include <limits>

#include "loomkit/io/InputStream.h"

namespace loomkit {

// Used by one thread at a time. Holds one descriptor from the first read until close() or
// destruction.
class FileInputStream final : public InputStream {
 public:
  // The whole rest of the file from offset, when given as length.
  static constexpr uint64_t kToEnd = std::numeric_limits<uint64_t>::max();

  // Reads at most length bytes of path starting at offset; touches nothing until the first read.
  explicit FileInputStream(std::string path, uint64_t offset = 0, uint64_t length = kToEnd);
  ~FileInputStream() override;
  FileInputStream(const FileInputStream&) = delete;
  FileInputStream& operator=(const FileInputStream&) = delete;

  // The first call opens path read-only, refusing a symbolic link as the last component, and seeks
  // to the offset. Each call reads min(capacity, bytes left in the range); 0 at the end of the
  // range or of a file shorter than announced. Failures in "UnixErrorDomain": the system text of
  // the open, "lseek(%@, %qu): %s", "read(%@): %s".
  int64_t read(void* buffer, uint64_t capacity, Error* error = nullptr) override;
  // "<FileInputStream: fd=%d path=%@>".
  std::string description() const override;

  // Closes the descriptor if open; a later read opens the file again at the current position.
  void close();

 private:
  bool open(Error* error);

  int fd_ = -1;
  std::string path_;
  uint64_t fileLength_;  // end position of the range
  uint64_t offset_;      // current position
};

}  // namespace loomkit
