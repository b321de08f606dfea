// A named set of photo keys of the photo library.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {
class DictNode;
}

namespace fotello {

// A value: filled by one thread (the index parser), then shared read-only inside a catalog.
// Copies are independent albums with the same name, id, flag and keys.
class Album {
 public:
  // The keys in ascending order of plain code-point comparison ("10" before "9").
  using KeySet = std::set<std::string, std::less<>>;

  Album() = default;

  // "AlbumName" only; an empty value is stored as absent.
  void setString(std::string_view value, std::string_view key);
  // "AlbumId" only; the low 32 bits are kept.
  void setInteger(int64_t value, std::string_view key);
  // "Master" only.
  void setBoolean(bool value, std::string_view key);
  // Accepted and ignored: an album takes no real index values.
  void setReal(double, std::string_view) {}
  void addPhotoKey(std::string key);
  // An album's dictionary of the whole-document index reader: "AlbumName", "AlbumId" and
  // "Master" when present, then every string of "KeyList".
  void setFromPlist(const loomkit::DictNode& dict);

  // Both names present and equal, equal ids, flags and key sets.
  bool isEqualToAlbum(const Album& other) const;
  bool operator==(const Album& other) const { return isEqualToAlbum(other); }
  // Agrees with isEqualToAlbum.
  size_t hash() const;

  // Name String, id Int32, master Boolean, key count UInt64 and the keys as Strings in order;
  // stops at the first failed value.
  bool writeToStream(loomkit::BufferedOutputStream& to, loomkit::Error* error = nullptr) const;
  // Reads one record; nothing when any value fails. An absent key adds nothing. Memory grows
  // with the keys actually read, never with the announced count.
  static std::optional<Album> initFromStream(loomkit::BufferedInputStream& from, loomkit::Error* error = nullptr);

  const std::optional<std::string>& name() const { return name_; }
  int32_t iPhotoId() const { return iPhotoId_; }
  bool isMaster() const { return isMaster_; }
  const KeySet& photoKeys() const { return photoKeys_; }

  // "<Album: id=%d name=%@ %lu keys>".
  std::string description() const;

 private:
  std::optional<std::string> name_;
  int32_t iPhotoId_ = 0;
  bool isMaster_ = false;
  KeySet photoKeys_;
};

}  // namespace fotello
