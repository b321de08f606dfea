// Where the files that describe one photo library live: its catalog, the catalog's rotated
// copies and completion flag, and its digest set files.
#pragma once

#include <string>
#include <string_view>

namespace fotello {

// Stateless; safe from any thread. The data directory is read from the environment at each call.
class LibraryDataDirectory {
 public:
  // The application support directory, then "Data.noindex", then "datfiles", then the library
  // path's components as nested directories ("/Users/ann/Pictures/Lib" gives
  // .../datfiles/Users/ann/Pictures/Lib). Empty, "." and ".." components are left out, so no
  // library path can name a directory outside "datfiles".
  static std::string pathForIPhotoLibraryPath(std::string_view iPhotoLibraryPath);
  // The file of the given name in that directory.
  static std::string filePath(std::string_view iPhotoLibraryPath, std::string_view name);
};

}  // namespace fotello
