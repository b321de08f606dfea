// The catalog of one photo library: its photos indexed by digest, its albums and rolls by id,
// and the date of the scan that produced it; stored as "albumData.dat" and served to peers in
// the same binary form.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "catalog/Album.h"
#include "catalog/Photo.h"
#include "catalog/Roll.h"
#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace fotello {

class RemoteComputer;

// Domain of the catalog's own failures (code -1).
inline constexpr std::string_view kAlbumDataErrorDomain = "AlbumDataErrorDomain";

// Built or loaded by one thread, then never changed: shared read-only between the cataloging,
// serving and pulling threads. The one lazily computed value, the catalog digest, is computed at
// most once under sha1Once_. A catalog neither copies nor moves, since its digest map points into
// its own photos.
class AlbumData {
 public:
  // The photos under one digest, ordered by key number (photos with equal numbers in order of
  // their key text). Pointers into the catalog's own photos.
  using PhotoList = std::vector<const Photo*>;
  // Keys are views into the photos' own digest texts.
  using PhotoMap = std::unordered_map<std::string_view, PhotoList>;
  using AlbumMap = std::map<int32_t, Album>;
  using RollMap = std::map<int32_t, Roll>;
  using SHA1Set = std::unordered_set<std::string_view>;

  static constexpr uint32_t kVersion = 5;
  // The byte count to give loadFromStream when the stream's length is not known.
  static constexpr uint64_t kUnknownLength = UINT64_MAX;

  // An empty catalog: no photos, albums or rolls, no scan date.
  explicit AlbumData(std::optional<std::string> iPhotoLibraryPath = std::nullopt);
  // Indexes every photo under its original and its modified digest (logging "%@'s originalSHA1
  // is duplicate of %@" at debug when a digest already had a photo), leaves out photos without
  // a digest and every photo whose original digest is another photo's modified digest ("%@'s
  // originalSHA1 matches the modifiedSHA1 of another photo; dropping it"), and keys albums and
  // rolls by id, a later one replacing an earlier one. scanDate: seconds since 2001-01-01 UTC.
  AlbumData(std::optional<std::string> iPhotoLibraryPath, std::vector<Photo> photos, std::vector<Album> albums,
            std::vector<Roll> rolls, std::optional<double> scanDate);
  AlbumData(const AlbumData&) = delete;
  AlbumData& operator=(const AlbumData&) = delete;

  // The library's saved catalog; an empty catalog when there is none. Fails with the file
  // system's error or the load error.
  static std::unique_ptr<AlbumData> newFromCacheForIPhotoLibraryPath(const std::string& iPhotoLibraryPath,
                                                                     loomkit::Error* error = nullptr);
  // The same for any catalog file.
  static std::unique_ptr<AlbumData> newFromCacheFile(const std::string& path,
                                                     std::optional<std::string> iPhotoLibraryPath,
                                                     loomkit::Error* error = nullptr);
  // A catalog from its bytes, such as a peer's "/albumdata" body; it has no library path.
  static std::unique_ptr<AlbumData> newFromData(std::shared_ptr<const loomkit::Bytes> data,
                                                loomkit::Error* error = nullptr);
  // A peer's catalog, fetched from its agent's "/albumdata" (IQVData; the body arrives
  // decompressed) and loaded as newFromData does; logs "getting /albumdata from %@" at DEBUG.
  // Fails with the request's or the load's error.
  static std::unique_ptr<AlbumData> newFromRemoteComputer(const RemoteComputer& peer, loomkit::Error* error = nullptr);
  // Reads the catalog format: version 5 (else "invalid AlbumData version %u; expected %u"), the
  // photos, albums, rolls and scan date. byteCount, the most bytes the stream can hold, bounds
  // what is reserved for the counts read; memory otherwise grows only with the records actually
  // read, so a count that announces more records than the bytes hold fails at the end of data.
  // A photo without digests is left out with the warning "%@ has no original SHA1 and no
  // modified SHA1". Any failed read fails the whole load.
  static std::unique_ptr<AlbumData> loadFromStream(loomkit::BufferedInputStream& from, uint64_t byteCount,
                                                   std::optional<std::string> iPhotoLibraryPath,
                                                   loomkit::Error* error = nullptr);

  // Writes the catalog format: the distinct photos in order of key text, the albums and rolls in
  // order of id, then the no-scan-date flag and the scan date's whole seconds. Stops at the
  // first failed write.
  bool writeToStream(loomkit::BufferedOutputStream& to, loomkit::Error* error = nullptr) const;
  // Writes the catalog file of the library (creating its directory), after moving the present
  // file to the next "albumData.dat.%04d" and keeping at most three such copies. A complete
  // catalog then touches the completion flag. Rotation and flag problems are logged and do not
  // fail the save; a failed write does. Only the cataloging thread saves.
  bool save(loomkit::Error* error = nullptr) const;

  // The distinct photos, in order of key text.
  const std::vector<Photo>& allPhotos() const { return photos_; }
  size_t photoCount() const { return photos_.size(); }
  std::vector<std::string_view> allPhotoSHA1s() const;
  SHA1Set originalPhotoSHA1s() const;
  // The number of distinct original digests (the size of originalPhotoSHA1s()), counted once;
  // any thread.
  uint64_t originalPhotoSHA1Count() const;
  SHA1Set modifiedPhotoSHA1s() const;
  // The first photo listed under the digest; null when the digest is unknown.
  const Photo* photoForSHA1(std::string_view sha1) const;
  // Every photo listed under the digest; empty when it is unknown.
  const PhotoList& allPhotosForSHA1(std::string_view sha1) const;
  const PhotoMap& photoArraysBySHA1() const { return photoArraysBySHA1_; }
  const AlbumMap& albumsByIPhotoId() const { return albumsByIPhotoId_; }
  const RollMap& rollsByIPhotoId() const { return rollsByIPhotoId_; }
  // Seconds since 2001-01-01 UTC of the scan's start; absent in an incomplete or empty catalog.
  const std::optional<double>& scanDate() const { return scanDate_; }
  const std::optional<std::string>& iPhotoLibraryPath() const { return iPhotoLibraryPath_; }

  // The SHA-1 text of the catalog's serialised form, which equals the digest of the file save
  // writes; absent without a scan date. Computed on first use, once, from any thread.
  const std::optional<std::string>& sha1() const;

  // True when the library must be cataloged again: no scan date, no completion flag, the index
  // file or the catalog file cannot be examined, or the index changed after the catalog file.
  bool needsRescan() const;

  // The same catalog, or equal digest maps (lists of equal photos in the same order) and equal
  // albums, and no rolls: a roll equals only itself.
  bool isEqualToAlbumData(const AlbumData& other) const;

  // "<AlbumData: %lu photos %lu albums %lu rolls>".
  std::string description() const;

  static bool existsForIPhotoLibraryPath(const std::string& iPhotoLibraryPath);
  // The library's "albumData.dat".
  static std::string cachePathForIPhotoLibraryPath(const std::string& iPhotoLibraryPath);
  // The catalog path + ".complete": exists once a complete catalog was saved.
  static std::string completeFlagPathForIPhotoLibraryPath(const std::string& iPhotoLibraryPath);

 private:
  // Sorts the photos by key text and fills the digest map from them.
  void indexPhotos(bool logDuplicates);
  void storePhoto(const Photo& photo, std::string_view sha1, const char* which, bool logDuplicates);
  // Removes the photos without digests and those that are another photo's edited version.
  void dropRedundantPhotos();

  std::optional<std::string> iPhotoLibraryPath_;
  std::vector<Photo> photos_;  // never resized once indexed: the map points into it
  PhotoMap photoArraysBySHA1_;
  AlbumMap albumsByIPhotoId_;
  RollMap rollsByIPhotoId_;
  std::optional<double> scanDate_;

  mutable std::once_flag sha1Once_;
  mutable std::optional<std::string> sha1_;  // written once under sha1Once_
  mutable std::once_flag originalCountOnce_;
  mutable uint64_t originalCount_ = 0;  // written once under originalCountOnce_
};

}  // namespace fotello
