// The saved settings for one peer computer: whether its photos are pulled automatically, which of
// them, and which of its albums. One XML property list per peer, "<uuid>.synccomputer" in the
// "synccomputers" directory, with the peer's icon beside it in "<uuid>.synccomputer.iconImage".
// The desktop application (and fotelloctl) write and delete these files; the agent only reads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace fotello {

inline constexpr std::string_view kSyncComputerRecordErrorDomain = "SyncComputerRecordErrorDomain";

// A value: each call works on its own objects and nothing locks. The files are shared between the
// programs without a lock; every write replaces a file atomically, so a reader sees the old file
// or the whole new one.
//
// A record's file is named after its uuid, which comes from the network. Only an identifier of the
// form of a computer identifier (8-4-4-4-12 hexadecimal digits) ever names a file: saving or
// deleting anything else fails with kInvalidIdentifier.
class SyncComputerRecord {
 public:
  static constexpr int64_t kDataVersion = 2;
  // Error codes of SyncComputerRecordErrorDomain.
  static constexpr int64_t kInvalidDataVersion = -1;
  static constexpr int64_t kInvalidIdentifier = -2;
  static constexpr int64_t kFileTooLarge = -3;
  // The largest record or icon file read; real ones are a few hundred bytes and a small TIFF.
  static constexpr size_t kMaxFileSize = 4 * 1024 * 1024;

  // "SyncComputerRecordErrorDomain".
  static std::string_view errorDomain() { return kSyncComputerRecordErrorDomain; }
  // The application support directory + "/synccomputers".
  static std::string configuredSyncComputersDir();
  // True for "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" with hexadecimal digits of either case.
  static bool isValidUUID(std::string_view uuid);
  // The record file of a peer: configuredSyncComputersDir() + "/" + uuid + ".synccomputer";
  // nothing for an identifier that isValidUUID refuses.
  static std::optional<std::string> pathForUUID(std::string_view uuid);
  // The icon file beside a record file: its path + ".iconImage".
  static std::string iconPathForPath(const std::string& recordPath);

  // Every record of the directory, in listing order. A file that fails to load is logged at ERROR
  // ("error loading from %@: %@") and skipped. An empty list when the directory does not exist;
  // nothing with the error when it cannot be listed.
  static std::optional<std::vector<SyncComputerRecord>> storedRecords(loomkit::Error* error = nullptr);
  // Removes the peer's record file, then its icon file. Succeeds when neither exists; fails when
  // the record file cannot be removed (the icon is then left alone); an icon that cannot be
  // removed is logged at ERROR and does not fail the call.
  static bool deleteFileForUUID(std::string_view uuid, loomkit::Error* error = nullptr);

  // Empty: no names, not automatic, selection 0, no albums, no icon.
  SyncComputerRecord() = default;

  // Loads one record file and its icon file when present. Fails with the file system's or the
  // property-list reader's error, or with kInvalidDataVersion "invalid data version %d (expected
  // %d)" unless "dataVersion" is 2. An icon that cannot be read is logged at ERROR and left absent.
  static std::optional<SyncComputerRecord> initFromFile(const std::string& path, loomkit::Error* error = nullptr);

  // Writes the record file at pathForUUID(uuid()) (creating the directory), then the icon file when
  // the record has an icon; both atomically. A failed icon write is logged at ERROR and does not
  // fail the save; without an icon an older icon file stays.
  bool saveToFile(loomkit::Error* error = nullptr) const;

  // The root dictionary of the record file, keys in their written order.
  loomkit::Bytes XMLData() const;

  const std::optional<std::string>& computerName() const { return computerName_; }
  void setComputerName(std::optional<std::string> name) { computerName_ = std::move(name); }
  const std::optional<std::string>& uuid() const { return uuid_; }
  void setUuid(std::optional<std::string> uuid) { uuid_ = std::move(uuid); }
  const std::optional<std::string>& userName() const { return userName_; }
  void setUserName(std::optional<std::string> name) { userName_ = std::move(name); }
  bool automatic() const { return automatic_; }
  void setAutomatic(bool automatic) { automatic_ = automatic; }
  int32_t autoImportSelectionIndex() const { return autoImportSelectionIndex_; }
  void setAutoImportSelectionIndex(int32_t index) { autoImportSelectionIndex_ = index; }
  const std::set<int32_t>& checkedAlbumIPhotoIds() const { return checkedAlbumIPhotoIds_; }
  void setCheckedAlbumIPhotoIds(std::set<int32_t> ids) { checkedAlbumIPhotoIds_ = std::move(ids); }
  // The icon as TIFF bytes.
  const std::shared_ptr<const loomkit::Bytes>& iconImage() const { return iconImage_; }
  void setIconImage(std::shared_ptr<const loomkit::Bytes> icon) { iconImage_ = std::move(icon); }

  // "<SyncComputerRecord: path=%@>"; "(null)" for a record without a usable uuid.
  std::string description() const;

 private:
  std::optional<std::string> computerName_;
  std::optional<std::string> uuid_;
  std::optional<std::string> userName_;
  bool automatic_ = false;
  int32_t autoImportSelectionIndex_ = 0;
  std::set<int32_t> checkedAlbumIPhotoIds_;
  std::shared_ptr<const loomkit::Bytes> iconImage_;
};

}  // namespace fotello
