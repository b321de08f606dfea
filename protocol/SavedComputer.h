// The settings the agent pulls a peer with, taken from the peer's saved record: which photos
// (the selection index) and which of its albums.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "protocol/SyncComputerRecord.h"

namespace fotello {

// Immutable: share and copy it freely between threads.
class SavedComputer {
 public:
  // Selection indexes: 0 every wanted photo, 1 checked albums only, 2 to 6 taken within the last
  // 30, 60, 90, 180 or 365 days or in a checked album; any other value counts as 1.
  SavedComputer(std::string uuid, int32_t autoImportSelectionIndex, std::set<int32_t> iPhotoIdsOfCheckedAlbums);
  // The settings of a record; nothing for a record without a uuid.
  static std::optional<SavedComputer> fromRecord(const SyncComputerRecord& record);

  const std::string& uuid() const { return uuid_; }
  int32_t autoImportSelectionIndex() const { return autoImportSelectionIndex_; }
  const std::set<int32_t>& iPhotoIdsOfCheckedAlbums() const { return iPhotoIdsOfCheckedAlbums_; }

  // All three fields equal.
  bool isEqualToSavedComputer(const SavedComputer& other) const;
  bool operator==(const SavedComputer& other) const { return isEqualToSavedComputer(other); }

  // "<SavedComputer: uuid=%@ selection=%d %lu albums>".
  std::string description() const;

 private:
  std::string uuid_;
  int32_t autoImportSelectionIndex_;
  std::set<int32_t> iPhotoIdsOfCheckedAlbums_;
};

}  // namespace fotello
