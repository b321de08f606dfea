#include "protocol/AgentMissingPhotoFinder.h"

#include <chrono>
#include <cstdlib>

#include "loomkit/shared/Log.h"

namespace fotello {

AgentMissingPhotoFinder::AgentMissingPhotoFinder(std::string iPhotoLibraryPath, std::shared_ptr<const RemoteComputer> asc,
                                                 SavedComputer savedComputer, PeerDataSource& source)
    : iPhotoLibraryPath_(std::move(iPhotoLibraryPath)),
      asc_(std::move(asc)),
      savedComputer_(std::move(savedComputer)),
      source_(source) {
  if (!asc_) {
    LOG_ERROR("AgentMissingPhotoFinder needs a peer");
    std::abort();
  }
}

std::optional<MissingPhotoFinder::PhotoList> AgentMissingPhotoFinder::sortedWantedRemotePhotos(loomkit::Error* error) {
  remotePhotos_.clear();
  auto albumData = source_.albumDataFromRemoteComputer(*asc_, error);
  if (!albumData) return std::nullopt;
  remoteAlbumData_ = std::move(albumData);

  MissingPhotoFinder finder(iPhotoLibraryPath_, remoteAlbumData_);
  auto wanted = finder.sortedWantedRemotePhotos(false, error);
  if (!wanted) return std::nullopt;
  const double current = now();
  for (const Photo* photo : *wanted) {
    if (photoMatchesCriteria(*photo, current)) remotePhotos_.push_back(photo);
  }
  return remotePhotos_;
}

const AlbumData::RollMap& AgentMissingPhotoFinder::rollsByIPhotoId() const {
  static const AlbumData::RollMap kNoRolls;
  return remoteAlbumData_ ? remoteAlbumData_->rollsByIPhotoId() : kNoRolls;
}

std::optional<double> AgentMissingPhotoFinder::periodForSelectionIndex(int32_t index) {
  switch (index) {
    case 2: return 2592000.0;
    case 3: return 5184000.0;
    case 4: return 7776000.0;
    case 5: return 15552000.0;
    case 6: return 31536000.0;
    default: return std::nullopt;
  }
}

double AgentMissingPhotoFinder::now() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count() - Roll::kReferenceDateSince1970;
}

bool AgentMissingPhotoFinder::photoMatchesCriteria(const Photo& photo, double now) const {
  const int32_t index = savedComputer_.autoImportSelectionIndex();
  if (index == 0) return true;
  if (auto period = periodForSelectionIndex(index); period && photo.dateTaken() > now - *period) return true;
  return isInCheckedAlbum(photo);
}

bool AgentMissingPhotoFinder::isInCheckedAlbum(const Photo& photo) const {
  auto key = photo.iPhotoKey();
  if (!key || !remoteAlbumData_) return false;
  const auto& albums = remoteAlbumData_->albumsByIPhotoId();
  for (int32_t id : savedComputer_.iPhotoIdsOfCheckedAlbums()) {
    auto album = albums.find(id);
    if (album != albums.end() && album->second.photoKeys().contains(*key)) return true;
  }
  return false;
}

}  // namespace fotello
