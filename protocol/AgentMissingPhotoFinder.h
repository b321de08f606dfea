// The photos the agent pulls from one automatic peer: the wanted photos of its catalog (ignored
// ones never shown) that pass the peer's saved selection, oldest first. fotelloctl shows the same
// list for a peer given by address.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "catalog/MissingPhotoFinder.h"
#include "protocol/PeerDataSource.h"
#include "protocol/RemoteComputer.h"
#include "protocol/SavedComputer.h"

namespace fotello {

// Created, used once and dropped by one thread (the pull thread). The source must outlive it; the
// peer (an AutoSyncComputer for the agent) is only read.
class AgentMissingPhotoFinder {
 public:
  AgentMissingPhotoFinder(std::string iPhotoLibraryPath, std::shared_ptr<const RemoteComputer> asc, SavedComputer savedComputer,
                          PeerDataSource& source = PeerDataSource::peerRequestSource());

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

  const RemoteComputer& remoteComputer() const { return *asc_; }
  const SavedComputer& savedComputer() const { return savedComputer_; }

 private:
  bool isInCheckedAlbum(const Photo& photo) const;

  const std::string iPhotoLibraryPath_;
  const std::shared_ptr<const RemoteComputer> asc_;
  const SavedComputer savedComputer_;
  PeerDataSource& source_;
  MissingPhotoFinder::PhotoList remotePhotos_;
  std::shared_ptr<const AlbumData> remoteAlbumData_;
};

}  // namespace fotello
