#include "catalog/LibraryDataDirectory.h"

#include "protocol/FotelloApp.h"

namespace fotello {

std::string LibraryDataDirectory::pathForIPhotoLibraryPath(std::string_view iPhotoLibraryPath) {
  std::string path = FotelloApp::applicationSupportPath() + "/Data.noindex/datfiles";
  std::string_view rest = iPhotoLibraryPath;
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view component = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (component.empty() || component == "." || component == "..") continue;
    path += '/';
    path += component;
  }
  return path;
}

std::string LibraryDataDirectory::filePath(std::string_view iPhotoLibraryPath, std::string_view name) {
  std::string path = pathForIPhotoLibraryPath(iPhotoLibraryPath);
  path += '/';
  path += name;
  return path;
}

}  // namespace fotello
