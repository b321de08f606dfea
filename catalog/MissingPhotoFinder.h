// Which photos of a peer's catalog the local library still lacks and wants, in the order they are
// to be fetched: every photo whose original digest is not among the local library's, the ignored
// (unless they are to be shown) and the received digests, and whose edited version is not here
// either, oldest first.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "catalog/AlbumData.h"
#include "loomkit/shared/Error.h"

namespace fotello {

// Created, used and dropped by one thread (the desktop application's thumbnail thread, the agent's
// pull thread). The digest set files are read at every call, without a lock: a later call sees
// photos received since as unwanted. The catalog is shared read-only.
class MissingPhotoFinder {
 public:
  using SHA1Set = std::unordered_set<std::string>;
  // Photos of the peer's catalog; valid while the finder (which keeps the catalog) lives.
  using PhotoList = std::vector<const Photo*>;

  MissingPhotoFinder(std::string iPhotoLibraryPath, std::shared_ptr<const AlbumData> albumData);

  // The digests the local side has or does not want: the library set, the ignored set unless
  // showIgnored, and the received set. Nothing, with the error of the set file that failed.
  std::optional<SHA1Set> unwantedSHA1s(bool showIgnored, loomkit::Error* error = nullptr) const;

  // One photo per distinct original digest that is not unwanted, leaving out photos whose
  // modified digest is unwanted, sorted by date taken (oldest first). Nothing with the error of a
  // set file.
  std::optional<PhotoList> sortedWantedRemotePhotos(bool showIgnored, loomkit::Error* error = nullptr) const;

  const std::string& iPhotoLibraryPath() const { return iPhotoLibraryPath_; }
  const std::shared_ptr<const AlbumData>& albumData() const { return albumData_; }

 private:
  const std::string iPhotoLibraryPath_;
  const std::shared_ptr<const AlbumData> albumData_;
};

}  // namespace fotello
