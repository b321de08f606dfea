// A factory of input streams over one byte range of a file.
#pragma once

#include <memory>

#include "loomkit/io/FileInputStream.h"

namespace loomkit {

// Immutable after construction and holds no descriptor: safe to use from any number of threads.
class FileInputStreamFactory final : public InputStreamFactory {
 public:
  // Streams over length bytes of path from offset; touches nothing now.
  FileInputStreamFactory(std::string path, uint64_t offset, uint64_t length);

  // A factory over the whole file, its length taken from the file's status without following a
  // symbolic link; nothing with "lstat(%@): %s" in "UnixErrorDomain" when that fails.
  static std::unique_ptr<FileInputStreamFactory> newWithPath(const std::string& path, Error* error = nullptr);

  // A FileInputStream over (path, offset, length).
  std::unique_ptr<InputStream> newInputStream() const override;
  // "<FileISF: %@,length=%qu>".
  std::string description() const override;

  const std::string& path() const { return path_; }
  uint64_t offset() const { return offset_; }
  uint64_t length() const { return length_; }

 private:
  std::string path_;
  uint64_t offset_;
  uint64_t length_;
};

}  // namespace loomkit
