#include "protocol/SavedComputer.h"

#include "loomkit/shared/Format.h"

namespace fotello {

SavedComputer::SavedComputer(std::string uuid, int32_t autoImportSelectionIndex,
                             std::set<int32_t> iPhotoIdsOfCheckedAlbums)
    : uuid_(std::move(uuid)),
      autoImportSelectionIndex_(autoImportSelectionIndex),
      iPhotoIdsOfCheckedAlbums_(std::move(iPhotoIdsOfCheckedAlbums)) {}

std::optional<SavedComputer> SavedComputer::fromRecord(const SyncComputerRecord& record) {
  if (!record.uuid()) return std::nullopt;
  return SavedComputer(*record.uuid(), record.autoImportSelectionIndex(), record.checkedAlbumIPhotoIds());
}

bool SavedComputer::isEqualToSavedComputer(const SavedComputer& other) const {
  return uuid_ == other.uuid_ && autoImportSelectionIndex_ == other.autoImportSelectionIndex_ &&
         iPhotoIdsOfCheckedAlbums_ == other.iPhotoIdsOfCheckedAlbums_;
}

std::string SavedComputer::description() const {
  return loomkit::strprintf("<SavedComputer: uuid=%s selection=%d %lu albums>", uuid_.c_str(),
                            autoImportSelectionIndex_, static_cast<unsigned long>(iPhotoIdsOfCheckedAlbums_.size()));
}

}  // namespace fotello
