#include "protocol/IPhotoRelauncher.h"

#include <thread>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "protocol/PhotolibApplication.h"

namespace fotello {

IPhotoRelauncher::IPhotoRelauncher(std::string iPhotoLibraryPath)
    : iPhotoLibraryPath_(std::move(iPhotoLibraryPath)),
      ownApplication_(std::make_unique<PhotolibApplication>()),
      application_(*ownApplication_),
      quitTimeout_(kQuitTimeout) {}

IPhotoRelauncher::IPhotoRelauncher(std::string iPhotoLibraryPath, PhotoApplication& application,
                                   std::chrono::duration<double> quitTimeout)
    : iPhotoLibraryPath_(std::move(iPhotoLibraryPath)), application_(application), quitTimeout_(quitTimeout) {}

IPhotoRelauncher::~IPhotoRelauncher() = default;

bool IPhotoRelauncher::relaunchIfNecessary(loomkit::Error* error) {
  std::optional<std::string> current = application_.currentLibraryPath();
  LOG_DEBUG("current iPhoto root directory %s; our iPhotoLibraryPath is %s", current ? current->c_str() : "(null)",
            iPhotoLibraryPath_.c_str());
  if (current == iPhotoLibraryPath_) return true;

  if (application_.isRunning()) {
    LOG_DEBUG("quitting iPhoto");
    loomkit::Error quitError;
    if (!application_.quit(&quitError)) {
      std::string text = loomkit::strprintf("Error telling iPhoto to quit: code=%lld description=%s",
                                            static_cast<long long>(quitError.code()), quitError.description().c_str());
      LOG_ERROR("%s", text.c_str());
      return loomkit::setError(error, kIPhotoRelauncherErrorDomain, -1, text);
    }
  }

  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (!application_.isRunning()) {
      LOG_DEBUG("waiting before launching iPhoto");
      std::this_thread::sleep_for(std::chrono::seconds(1));
      LOG_DEBUG("launching iPhoto with library %s", iPhotoLibraryPath_.c_str());
      loomkit::Error openError;
      if (!application_.openLibrary(iPhotoLibraryPath_, &openError)) {
        LOG_DEBUG("open failed: %s", openError.description().c_str());
        return loomkit::setError(error, kIPhotoRelauncherErrorDomain, -1,
                                 loomkit::strprintf("failed to launch iPhoto with library %s", iPhotoLibraryPath_.c_str()));
      }
      std::this_thread::sleep_for(std::chrono::seconds(2));
      return true;
    }
    LOG_DEBUG("waiting for iPhoto to die");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    if (std::chrono::steady_clock::now() - start > quitTimeout_) {
      return loomkit::setError(error, kIPhotoRelauncherErrorDomain, -1,
                               loomkit::strprintf("iPhoto failed to quit within %f seconds", quitTimeout_.count()));
    }
  }
}

}  // namespace fotello
