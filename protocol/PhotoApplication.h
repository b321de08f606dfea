// What both programs read from and tell to the photo application that owns the photo library.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "loomkit/shared/Error.h"

namespace fotello {

// Domain of a failed call to the photo application: the code is the call's own error number (a
// tool's exit status), the description its message.
inline constexpr std::string_view kPhotoApplicationErrorDomain = "PhotoApplicationErrorDomain";

// An implementation may be used from any thread, one call at a time; every call blocks until the
// application has done what was asked.
class PhotoApplication {
 public:
  virtual ~PhotoApplication() = default;

  // The library the application uses now, with a leading "~" expanded; absent when unknown.
  virtual std::optional<std::string> currentLibraryPath() = 0;
  // The application's version text, such as "9.4.1"; absent with an error when it cannot be told.
  virtual std::optional<std::string> version(loomkit::Error* error = nullptr) = 0;
  // Whether the application is running now.
  virtual bool isRunning() = 0;
  // Asks the application to quit; success means it will end (callers wait for that).
  virtual bool quit(loomkit::Error* error = nullptr) = 0;
  // Makes the application use the library at path from now on.
  virtual bool openLibrary(const std::string& path, loomkit::Error* error = nullptr) = 0;
  // Imports the photos and videos of the folder into the current library and returns only when
  // they are in it; afterwards removes the folder when asked. After a failed import the folder
  // stays.
  virtual bool importFolder(const std::string& folder, bool removeFolder, loomkit::Error* error = nullptr) = 0;

  // The major number of a version text: the digits before its first dot ("9.4.1" gives 9);
  // absent when the text does not start with digits and a dot.
  static std::optional<int> majorVersion(std::string_view version);
};

}  // namespace fotello
