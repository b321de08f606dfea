#include "loomkit/io/FileInputStreamFactory.h"

#include <sys/stat.h>

#include <cerrno>

#include "loomkit/shared/Format.h"

namespace loomkit {

FileInputStreamFactory::FileInputStreamFactory(std::string path, uint64_t offset, uint64_t length)
    : path_(std::move(path)), offset_(offset), length_(length) {}

std::unique_ptr<FileInputStreamFactory> FileInputStreamFactory::newWithPath(const std::string& path, Error* error) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    int e = errno;
    setUnixError(error, e, strprintf("lstat(%s): %s", path.c_str(), systemErrorText(e).c_str()));
    return nullptr;
  }
  return std::make_unique<FileInputStreamFactory>(path, 0, static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<InputStream> FileInputStreamFactory::newInputStream() const {
  return std::make_unique<FileInputStream>(path_, offset_, length_);
}

std::string FileInputStreamFactory::description() const {
  return strprintf("<FileISF: %s,length=%llu>", path_.c_str(), static_cast<unsigned long long>(length_));
}

}  // namespace loomkit
