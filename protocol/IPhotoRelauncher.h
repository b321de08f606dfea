// Makes sure the photo application has the configured library open before photos are imported.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "loomkit/shared/Error.h"
#include "protocol/PhotoApplication.h"

namespace fotello {

// Domain of the relauncher's errors; all carry code -1.
inline constexpr std::string_view kIPhotoRelauncherErrorDomain = "IPhotoRelauncherErrorDomain";

// Holds only the configured library; relaunchIfNecessary sleeps on the calling thread (the main
// thread of either program) and may take about 48 seconds.
class IPhotoRelauncher {
 public:
  // How long the application gets to quit.
  static constexpr std::chrono::seconds kQuitTimeout{45};

  static std::string_view errorDomain() { return kIPhotoRelauncherErrorDomain; }

  // Drives the photolib application (PhotolibApplication).
  explicit IPhotoRelauncher(std::string iPhotoLibraryPath);
  // Drives the given application, which must outlive the relauncher, and allows it quitTimeout
  // to quit (tests shorten it).
  IPhotoRelauncher(std::string iPhotoLibraryPath, PhotoApplication& application,
                   std::chrono::duration<double> quitTimeout = kQuitTimeout);
  ~IPhotoRelauncher();

  // Success when the application has, or has been made to have, the configured library open.
  // Nothing is done when its current library is exactly the configured path. Otherwise a running
  // application is told to quit ("Error telling iPhoto to quit: code=%@ description=%@" when it
  // refuses), then once it no longer runs, after 1 second, it is opened with the library and given
  // 2 seconds ("failed to launch iPhoto with library %@" when that fails). An application still
  // running after quitTimeout fails with "iPhoto failed to quit within %f seconds".
  bool relaunchIfNecessary(loomkit::Error* error = nullptr);

  const std::string& iPhotoLibraryPath() const { return iPhotoLibraryPath_; }

 private:
  std::string iPhotoLibraryPath_;
  std::unique_ptr<PhotoApplication> ownApplication_;
  PhotoApplication& application_;
  std::chrono::duration<double> quitTimeout_;
};

}  // namespace fotello
