// Settings that come from outside Fotello: the photo library tool's current library.
#pragma once

#include <optional>
#include <string>

namespace fotello {

// Stateless; safe from any thread.
class Defaults {
 public:
  // The photo library tool's preference "RootDirectory" (its preferences.plist in
  // $XDG_CONFIG_HOME/photolib, default ~/.config/photolib), with a leading "~" expanded;
  // absent when the file or the preference is missing.
  static std::optional<std::string> iPhotoRootDirectory();
  // The tool's preference file.
  static std::string photoLibraryPreferencesPath();
};

}  // namespace fotello
