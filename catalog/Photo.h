// One picture of the photo library: the paths of its files, its metadata and the digests that
// identify it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {
class DictNode;
}

namespace fotello {

// Domain of the photo record's own failures (code -1).
inline constexpr std::string_view kPhotoErrorDomain = "PhotoErrorDomain";

// A value. It is filled by one thread (the index parser) and then shared read-only between
// threads inside a catalog; no member locks anything.
//
// The eight text fields live back to back in one buffer, so a photo costs one allocation however
// many of its fields are set.
class Photo {
 public:
  // What a successful stat gives of a file: its size and modification time.
  struct FileStamp {
    uint64_t size = 0;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
  };
  // The stamps of a photo's original and edited file taken ahead of updateSHA1s, for example on
  // another thread; absent where there is no such file or the stat failed.
  struct FileStamps {
    std::optional<FileStamp> original;
    std::optional<FileStamp> modified;
  };
  // The stamp of the file at path (links followed); absent when the stat fails.
  static std::optional<FileStamp> stampOfFile(const char* path);

  // A photo with nothing set, not even a key.
  Photo() = default;
  // A photo with the given library key and nothing else.
  explicit Photo(std::string_view iPhotoKey);

  // Sets the key and its number: the value of the key's leading decimal digits, 0 without any,
  // clamped to the 32-bit range.
  void setIPhotoKey(std::optional<std::string_view> key);

  // Index values by key; an empty value is stored as absent. "ImagePath", "OriginalPath",
  // "ThumbPath", "Caption", "ImageType"; other keys are ignored. Changing an "ImagePath" or
  // "OriginalPath" that held a value clears both digests, so updateSHA1s hashes again.
  void setString(std::string_view value, std::string_view key);
  // "Aspect Ratio" and "DateAsTimerInterval" (seconds since 2001-01-01 UTC); others ignored.
  void setReal(double value, std::string_view key);
  // Accepted and ignored for every key: a photo takes no integer or boolean index values.
  void setInteger(int64_t, std::string_view) {}
  void setBoolean(bool, std::string_view) {}
  // A photo's dictionary of the whole-document index reader: the five string keys, "Aspect Ratio"
  // and "DateAsTimerInterval" (integer or real), and "Roll", each when present.
  void setFromPlist(const loomkit::DictNode& dict);

  // Refreshes the digests of the original and the edited file, hashing a file only when it has
  // no digest yet or its size or modification time changed. Fails with "missing originalPath for
  // photo %@", "%@ is an empty file" (PhotoErrorDomain -1), "%@: %s" for a failed stat
  // (UnixErrorDomain), or the digest's error; a failed digest is left absent.
  bool updateSHA1s(loomkit::Error* error = nullptr);
  // The same, given the files' stamps taken earlier: when every file the photo has is stamped
  // with the size and time its digest was made for, nothing is looked at again. Anything else
  // (a changed, missing or empty file, a missing digest) goes through updateSHA1s(error).
  bool updateSHA1s(const FileStamps& stamps, loomkit::Error* error = nullptr);

  // Gives the file at path the original's modification time (microseconds, truncated) as its
  // access and modification times. Fails with "utimes(%@): %s" (UnixErrorDomain).
  bool applyOriginalMTimeToFile(const std::string& path, loomkit::Error* error = nullptr) const;

  // Equal digests (absent equals absent), key, thumbnail path, original path, modified path
  // (absent equals absent), caption, image type, date taken and roll. An absent key, thumbnail
  // path, original path, caption or image type equals nothing, not even another absent one.
  bool isEqualToPhoto(const Photo& other) const;
  bool operator==(const Photo& other) const { return isEqualToPhoto(other); }
  // Agrees with isEqualToPhoto: the hash of the original digest.
  size_t hash() const;
  // Ascending by key number: negative, 0 or positive. Equal numbers compare equal.
  int compareByIPhotoKey(const Photo& other) const;

  // The record's seventeen values in the typed encoding; stops at the first failed value.
  bool writeToStream(loomkit::BufferedOutputStream& to, loomkit::Error* error = nullptr) const;
  // Reads one record; nothing when any value fails (the stream's or the encoder's error).
  static std::optional<Photo> initFromStream(loomkit::BufferedInputStream& from, loomkit::Error* error = nullptr);
  // The fewest bytes one record occupies: every string absent, both doubles empty texts.
  static constexpr uint64_t kMinimumRecordSize = 8 * 1 + 2 * 9 + 7 * 8;

  std::optional<std::string_view> originalSHA1() const { return text(kOriginalSHA1); }
  std::optional<std::string_view> modifiedSHA1() const { return text(kModifiedSHA1); }
  std::optional<std::string_view> iPhotoKey() const { return text(kIPhotoKey); }
  int32_t iPhotoKeyNumber() const { return iPhotoKeyNumber_; }
  std::optional<std::string_view> imagePath() const { return text(kImagePath); }
  // The "OriginalPath" value itself: present only for edited photos.
  std::optional<std::string_view> originalPathValue() const { return text(kOriginalPath); }
  std::optional<std::string_view> thumbPath() const { return text(kThumbPath); }
  std::optional<std::string_view> caption() const { return text(kCaption); }
  std::optional<std::string_view> imageType() const { return text(kImageType); }
  double aspectRatio() const { return aspectRatio_; }
  // Seconds since 2001-01-01 00:00:00 UTC.
  double dateTaken() const { return dateTaken_; }
  uint64_t rollId() const { return rollId_; }
  uint64_t originalFileSize() const { return originalFileSize_; }
  int64_t originalMtimeSec() const { return originalMtimeSec_; }
  int64_t originalMtimeNsec() const { return originalMtimeNsec_; }
  uint64_t modifiedFileSize() const { return modifiedFileSize_; }
  int64_t modifiedMtimeSec() const { return modifiedMtimeSec_; }
  int64_t modifiedMtimeNsec() const { return modifiedMtimeNsec_; }

  // The unedited file: "OriginalPath" when set, else "ImagePath".
  std::optional<std::string_view> originalPath() const;
  // The edited file: "ImagePath" when "OriginalPath" is set, else absent.
  std::optional<std::string_view> modifiedPath() const;
  // The last path component of originalPath(), or absent.
  std::optional<std::string_view> originalFileName() const;

  // "<Photo: key=%@ originalPath=%@ modifiedPath=%@ originalSHA1=%@ modifiedSHA1=%@>", "(null)"
  // for absent values.
  std::string description() const;

 private:
  enum TextField : int {
    kOriginalSHA1,
    kModifiedSHA1,
    kIPhotoKey,
    kImagePath,
    kOriginalPath,
    kThumbPath,
    kCaption,
    kImageType,
    kTextFieldCount
  };

  std::optional<std::string_view> text(TextField field) const;
  void setText(TextField field, std::optional<std::string_view> value);
  // Sets a path and clears the digests when it replaces a different value.
  void setPath(TextField field, std::optional<std::string_view> value);
  void clearModifiedState();

  std::string text_;                    // the present text fields, back to back, in TextField order
  size_t ends_[kTextFieldCount] = {};   // end of each field in text_; it starts where the previous ends
  uint8_t present_ = 0;                 // bit i set when field i is present
  int32_t iPhotoKeyNumber_ = 0;
  double aspectRatio_ = 0;
  double dateTaken_ = 0;
  uint64_t rollId_ = 0;
  uint64_t originalFileSize_ = 0;
  int64_t originalMtimeSec_ = 0;
  int64_t originalMtimeNsec_ = 0;
  uint64_t modifiedFileSize_ = 0;
  int64_t modifiedMtimeSec_ = 0;
  int64_t modifiedMtimeNsec_ = 0;
};

}  // namespace fotello
