// What the library tool learns from one photo or video file: its kind, its image size, the date
// its camera recorded, and a small JPEG thumbnail.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "loomkit/shared/Error.h"

namespace fotello {

// Stateless; safe from any thread. JPEG files are decoded with libjpeg-turbo's scaled decoding and
// their camera date read with libexif; PNG files give their size from their header. Other images
// and videos are taken as they are, without size or thumbnail.
class PhotoFile {
 public:
  enum class Kind { kNone, kJPEG, kPNG, kOtherImage, kMovie };

  struct Info {
    Kind kind = Kind::kNone;
    int width = 0;  // 0 when the kind gives no size
    int height = 0;
    std::optional<double> dateTaken;  // EXIF DateTimeOriginal, seconds since 2001-01-01 UTC
  };

  // The kind a file name's extension names (case-insensitive); kNone for files that are neither
  // photos nor videos.
  static Kind kindForPath(std::string_view path);
  // "JPEG", "PNG", "TIFF", "GIF", "HEIC", "RAW", "MOVIE" and the like: the index's "ImageType".
  static std::string imageTypeForPath(std::string_view path);

  // Reads what the file's kind allows. Fails with PhotolibErrorDomain -1 when the file cannot be
  // read or its header is not one of its kind: "cannot read %s: %s", "%s is not a JPEG image: %s",
  // "%s is not a PNG image".
  static std::optional<Info> examine(const std::string& path, loomkit::Error* error = nullptr);

  // Writes a JPEG thumbnail of the JPEG at source to the new file dest: the whole image within
  // maxSide pixels per side, decoded at the smallest libjpeg scale that still covers that size and
  // box-filtered down from there, one row at a time. Fails with "cannot make a thumbnail of %s: %s"
  // (PhotolibErrorDomain -1) and leaves no dest behind.
  static bool writeThumbnail(const std::string& source, const std::string& dest, int maxSide,
                             loomkit::Error* error = nullptr);
  // Writes the JPEG at source, full size and in shades of gray, to the new file dest: the tool's
  // one edit. Fails with "cannot make a black and white copy of %s: %s".
  static bool writeBlackAndWhiteCopy(const std::string& source, const std::string& dest,
                                     loomkit::Error* error = nullptr);
};

}  // namespace fotello
