// The photos the agent pulls from one automatic peer: the wanted photos of its catalog (ignored
// ones never shown) that pass the peer's saved selection, oldest first.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "catalog/MissingPhotoFinder.h"
#include "protocol/RemoteAlbumDataSource.h"
#include "sync/AutoSyncComputer.h"
#include "sync/SavedComputer.h"

namespace fotello {

// Created, used once and dropped by one thread (the pull thread). The source must outlive it.
class AgentMissingPhotoFinder {
 public:
  // Seconds between 1970-01-01 and 2001-01-01 UTC, the reference date of photo dates.
  static constexpr double kReferenceDateOffset = 978307200.0;

  AgentMissingPhotoFinder(std::string iPhotoLibraryPath, AutoSyncComputer asc, SavedComputer savedComputer,
                          RemoteAlbumDataSource& source = RemoteAlbumDataSource::peerRequestSource());

  // Fetches the peer's catalog and returns its wanted photos that match the criteria, in order
  // of date taken. Nothing with the error of the fetch or of a set file. The photos belong to
  // remoteAlbumData(), which the finder keeps.
  std::optional<MissingPhotoFinder::PhotoList> sortedWantedRemotePhotos(loomkit::Error* error = nullptr);

  // The fetched catalog's rolls by roll id; empty before a successful fetch.
  const AlbumData::RollMap& rollsByIPhotoId() const;
  const std::shared_ptr<const AlbumData>& remoteAlbumData() const { return remoteAlbumData_; }

  // Whether the photo passes the selection: index 0 always; 2 to 6 when taken strictly after now
  // minus the period; otherwise when an album of the fetched catalog whose id is checked lists the
  // photo's key. now: seconds since 2001-01-01 UTC.
  bool photoMatchesCriteria(const Photo& photo) const { return photoMatchesCriteria(photo, now()); }
  bool photoMatchesCriteria(const Photo& photo, double now) const;

  // The period of a selection index in seconds; nothing for 0, 1 and the indexes outside 0 to 6.
  static std::optional<double> periodForSelectionIndex(int32_t index);
  // The current time in seconds since 2001-01-01 UTC.
  static double now();

  const AutoSyncComputer& autoSyncComputer() const { return asc_; }
  const SavedComputer& savedComputer() const { return savedComputer_; }

 private:
  bool isInCheckedAlbum(const Photo& photo) const;

  const std::string iPhotoLibraryPath_;
  const AutoSyncComputer asc_;
  const SavedComputer savedComputer_;
  RemoteAlbumDataSource& source_;
  MissingPhotoFinder::PhotoList remotePhotos_;
  std::shared_ptr<const AlbumData> remoteAlbumData_;
};

}  // namespace fotello
