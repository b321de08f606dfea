#include "catalog/SHA1DatFile.h"

#include <memory>

#include "catalog/LibraryDataDirectory.h"
#include "catalog/SHA1Records.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/io/FileOutputStream.h"
#include "loomkit/shared/Log.h"

namespace fotello {

SHA1DatFile SHA1DatFile::libraryDatFile(std::string_view iPhotoLibraryPath) {
  return SHA1DatFile(LibraryDataDirectory::filePath(iPhotoLibraryPath, "library_sha1s.dat"));
}

SHA1DatFile SHA1DatFile::ignoredDatFile(std::string_view iPhotoLibraryPath) {
  return SHA1DatFile(LibraryDataDirectory::filePath(iPhotoLibraryPath, "ignored_sha1s.dat"));
}

SHA1DatFile::SHA1DatFile(std::string path) : path_(std::move(path)) {}

bool SHA1DatFile::load(loomkit::Error* error) {
  return SHA1Records::readFile(path_, [this](std::string sha1) { sha1s_.insert(std::move(sha1)); }, error);
}

void SHA1DatFile::addSHA1s(const SHA1Set& sha1s) { sha1s_.insert(sha1s.begin(), sha1s.end()); }

bool SHA1DatFile::save(loomkit::Error* error) const {
  loomkit::BufferedOutputStream out(std::make_unique<loomkit::FileOutputStream>(path_, false));
  SHA1Records::Record record;
  for (const std::string& sha1 : sha1s_) {
    if (!SHA1Records::encode(sha1, record)) {
      LOG_WARN("leaving '%s' out of %s: sha1 must be 20 bytes", sha1.c_str(), path_.c_str());
      continue;
    }
    if (!out.writeExactly(record, sizeof record, error)) return false;
  }
  return out.flush(error);
}

std::string SHA1DatFile::description() const {
  return loomkit::strprintf("<SHA1DatFile: path=%s, %lu sha1s>", path_.c_str(),
                            static_cast<unsigned long>(sha1s_.size()));
}

}  // namespace fotello
