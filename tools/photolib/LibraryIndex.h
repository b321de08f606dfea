// The index of a photolib library, "AlbumData.xml": its photos, albums and rolls in memory, read
// from the file as it streams by and written back in one streaming pass.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "loomkit/io/OutputStream.h"
#include "loomkit/shared/Error.h"

namespace fotello {

// Domain of the library tool's own failures (code -1).
inline constexpr std::string_view kPhotolibErrorDomain = "PhotolibErrorDomain";

// Used by one thread (the tool is single-threaded). Photo keys, album ids and roll ids are
// positive integers, each new one above every one in use.
class LibraryIndex {
 public:
  struct Photo {
    std::string key;
    std::string imagePath;                    // the file shown: the edited one when there is one
    std::optional<std::string> originalPath;  // only for edited photos: the unedited file
    std::optional<std::string> thumbPath;
    std::optional<std::string> caption;
    std::string imageType;  // "JPEG", "PNG", ..., "MOVIE"
    std::string mediaType;  // "Image" or "Movie"
    double aspectRatio = 0;
    double date = 0;     // taken, seconds since 2001-01-01 UTC
    double modDate = 0;  // last change, seconds since 2001-01-01 UTC
    int64_t roll = 0;
  };
  struct Album {
    int64_t id = 0;
    std::string name;
    bool master = false;            // the album of every photo; its keys are written, never kept
    std::vector<std::string> keys;  // in the order added, each once
  };
  struct Roll {
    int64_t id = 0;
    std::string name;
    double date = 0;  // the import, seconds since 2001-01-01 UTC
    std::vector<std::string> keys;
  };

  // The tool's version, written into every index: "9.4.1".
  static constexpr const char* kApplicationVersion = "9.4.1";
  // Seconds from 1970-01-01 to 2001-01-01 00:00:00 UTC.
  static constexpr double kReferenceDateSince1970 = 978307200.0;
  // The current time in seconds since 2001-01-01 UTC.
  static double now();

  // An empty index of the library at the given absolute path, holding only the master album.
  explicit LibraryIndex(std::string libraryPath);

  // libraryPath + "/AlbumData.xml".
  static std::string indexPathForLibrary(const std::string& libraryPath);

  // Replaces the contents with those of the library's index file. Fails with the parser's text
  // "cannot read %s at line %lld column %lld: %s" (PhotolibErrorDomain -1).
  bool load(loomkit::Error* error = nullptr);
  // Writes the index file in one streaming pass into a temporary file that then replaces it, so a
  // failure leaves the previous index whole. Fails with the file system's error.
  bool save(loomkit::Error* error = nullptr) const;

  const std::string& libraryPath() const { return libraryPath_; }
  const std::vector<Photo>& photos() const { return photos_; }
  const std::vector<Album>& albums() const { return albums_; }
  const std::vector<Roll>& rolls() const { return rolls_; }

  // The photo of the key, or null.
  Photo* photo(std::string_view key);
  // The user album of that name, or null.
  Album* userAlbum(std::string_view name);

  // The key the next addPhoto gives.
  std::string nextPhotoKey() const { return std::to_string(lastPhotoKey_ + 1); }
  // Adds the photo under a new key (returned) and appends it to its roll, which must exist.
  std::string addPhoto(Photo photo);
  // Adds an empty roll with a new id (returned).
  int64_t addRoll(std::string name, double date);
  // Adds an empty user album with a new id.
  Album& addUserAlbum(std::string name);

  // Every path the index names (image, original and thumbnail files).
  std::unordered_set<std::string> knownPaths() const;

 private:
  class Reader;

  // Empties the index, master album included.
  void reset();
  void addMasterAlbum();
  // The loaded records; a photo without an image path or with a key already present is dropped.
  void adoptPhoto(Photo photo);
  void adoptAlbum(Album album);
  void adoptRoll(Roll roll);
  bool write(loomkit::OutputStream& out, loomkit::Error* error) const;
  Roll* roll(int64_t id);

  std::string libraryPath_;
  std::vector<Photo> photos_;
  std::unordered_map<std::string, size_t> photoIndexByKey_;
  std::vector<Album> albums_;
  std::vector<Roll> rolls_;
  int64_t lastPhotoKey_ = 0;
  int64_t lastAlbumId_ = 0;
  int64_t lastRollId_ = 0;
};

}  // namespace fotello
