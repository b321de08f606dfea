#include "catalog/ReceivedDatFile.h"

#include <memory>

#include "catalog/LibraryDataDirectory.h"
#include "catalog/SHA1Records.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/io/FileOutputStream.h"
#include "loomkit/shared/Format.h"

namespace fotello {

ReceivedDatFile::ReceivedDatFile(std::string_view iPhotoLibraryPath)
    : datFilePath_(LibraryDataDirectory::filePath(iPhotoLibraryPath, "received_sha1s.dat")) {}

bool ReceivedDatFile::appendSHA1(std::string_view sha1, loomkit::Error* error) const {
  SHA1Records::Record record;
  if (!SHA1Records::encode(sha1, record)) {
    return loomkit::setError(error, kReceivedDatFileErrorDomain, -1, "sha1 must be 20 bytes");
  }
  loomkit::BufferedOutputStream out(std::make_unique<loomkit::FileOutputStream>(datFilePath_, true));
  // One write of the whole record, so that concurrent appenders never interleave inside it.
  return out.writeExactly(record, sizeof record, error) && out.flush(error);
}

std::optional<std::unordered_set<std::string>> ReceivedDatFile::allSHA1s(loomkit::Error* error) const {
  std::unordered_set<std::string> sha1s;
  if (!SHA1Records::readFile(datFilePath_, [&sha1s](std::string sha1) { sha1s.insert(std::move(sha1)); }, error)) {
    return std::nullopt;
  }
  return sha1s;
}

std::string ReceivedDatFile::description() const {
  return loomkit::strprintf("<ReceivedDatFile: path=%s>", datFilePath_.c_str());
}

}  // namespace fotello
