#include "sync/AutoPhotoRetriever.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

#include "catalog/ReceivedDatFile.h"
#include "loomkit/crypto/SHA1Hash.h"
#include "loomkit/http/HTTPConnectionFactory.h"
#include "loomkit/io/FDOutputStream.h"
#include "loomkit/io/FileSystem.h"
#include "loomkit/io/SafeFileName.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "loomkit/shared/MainLoop.h"
#include "protocol/AgentMissingPhotoFinder.h"
#include "protocol/FotelloApp.h"
#include "protocol/IPhotoRelauncher.h"
#include "protocol/IQVData.h"
#include "protocol/IQVKeyChain.h"
#include "protocol/PhotolibApplication.h"

namespace fotello {

using loomkit::Error;
using loomkit::strprintf;

namespace {

constexpr const char* kDownloadFolderPrefix = "pass-";
constexpr const char* kImportErrorDomain = "MutableSyncComputerControllerErrorDomain";

[[noreturn]] void programmingError(const char* text) {
  LOG_ERROR("%s", text);
  std::abort();
}

// Runs fn on the main thread and waits for it; at once when there is no main loop or this is it.
void onMainThread(const std::function<void()>& fn) {
  loomkit::MainLoop* loop = loomkit::MainLoop::main();
  if (!loop || loop->isMainThread()) {
    fn();
  } else {
    loop->performAndWait(fn);
  }
}

std::optional<uint64_t> statvfsFreeBytes(const std::string& path, Error* error) {
  struct statvfs fs;
  if (::statvfs(path.c_str(), &fs) != 0) {
    const int saved = errno;
    loomkit::setUnixError(error, saved, strprintf("statvfs(%s): %s", path.c_str(), loomkit::systemErrorText(saved).c_str()));
    return std::nullopt;
  }
  return static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
}

// Makes each missing folder of path with mode 0700; an existing one must be a folder.
bool makePrivateFolders(const std::string& path, Error* error) {
  std::string partial;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    partial = path.substr(0, slash);
    start = slash + 1;
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      const int saved = errno;
      return loomkit::setUnixError(error, saved,
                                   strprintf("mkdir(%s): %s", partial.c_str(), loomkit::systemErrorText(saved).c_str()));
    }
  }
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return loomkit::setUnixError(error, ENOTDIR, strprintf("%s is not a folder", path.c_str()));
  }
  return true;
}

// The download's file: refuses the bytes beyond a bound (what the free-space minimum leaves, and
// the size the peer announced), so that no answer can fill the disk or run on without end.
class BoundedFileOutput final : public loomkit::OutputStream {
 public:
  BoundedFileOutput(int fd, uint64_t limit) : out_(fd), limit_(limit) {}
  int64_t write(const void* bytes, uint64_t length, Error* error) override {
    if (length > limit_ - out_.bytesWritten()) {
      exceeded_ = true;
      loomkit::setError(error, AutoPhotoRetriever::errorDomain(), 0, "the download exceeds its bound");
      return -1;
    }
    return out_.write(bytes, length, error);
  }
  uint64_t bytesWritten() const override { return out_.bytesWritten(); }
  std::string description() const override { return out_.description(); }
  bool exceeded() const { return exceeded_; }

 private:
  loomkit::FDOutputStream out_;
  const uint64_t limit_;
  bool exceeded_ = false;
};

bool pathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string lastPathComponent(std::string_view path) {
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

AutoPhotoRetriever::AutoPhotoRetriever(const PhotoRetrieverRequest& request)
    : AutoPhotoRetriever(request, Environment()) {}

AutoPhotoRetriever::AutoPhotoRetriever(const PhotoRetrieverRequest& request, Environment environment)
    : localIPhotoLibraryPath_(request.localIPhotoLibraryPath),
      localAlbumData_(request.localAlbumData),
      asc_(std::make_shared<AutoSyncComputer>(request.computer)),
      savedComputer_(request.savedComputer),
      appConfig_(request.appConfig),
      delegate_(request.delegate),
      environment_(std::move(environment)),
      retrievalLog_(environment_.retrievalLogPath.empty() ? RetrievalLog::defaultPath()
                                                          : environment_.retrievalLogPath) {
  if (!environment_.freeBytes) environment_.freeBytes = statvfsFreeBytes;
  if (!environment_.sleep) {
    environment_.sleep = [](std::chrono::duration<double> d) { std::this_thread::sleep_for(d); };
  }
  if (!environment_.application) {
    ownApplication_ = std::make_unique<PhotolibApplication>();
    environment_.application = ownApplication_.get();
  }
  if (!environment_.source) environment_.source = &PeerDataSource::peerRequestSource();
  downloadRoot_ = environment_.downloadRoot.empty() ? defaultDownloadRoot() : environment_.downloadRoot;
}

AutoPhotoRetriever::~AutoPhotoRetriever() {
  // The pull loop cleans up after every pass; this only catches a pass that ended early.
  if (!tempDir_.empty() && pathExists(tempDir_)) cleanUp();
}

PhotoRetrieverFactory AutoPhotoRetriever::factory() {
  return [](const PhotoRetrieverRequest& request) -> std::unique_ptr<PhotoRetriever> {
    return std::make_unique<AutoPhotoRetriever>(request);
  };
}

std::string AutoPhotoRetriever::defaultDownloadRoot() {
  return FotelloApp::applicationSupportPath() + "/Data.noindex/incoming";
}

bool AutoPhotoRetriever::initialize(Error* error) {
  // Again after a failure: start over with a new folder.
  cleanUp();
  tempDir_.clear();
  initialized_ = false;
  index_ = 0;
  pulledPhotosByPath_.clear();
  sortedWantedRemotePhotos_.clear();
  if (!makePrivateFolders(downloadRoot_, error)) return false;
  ::chmod(downloadRoot_.c_str(), 0700);

  // Only the agent's pull loop downloads here, one pass at a time under the agent's single-instance
  // lock: any other download folder was left by a pass that never finished (the agent was killed).
  if (DIR* dir = ::opendir(downloadRoot_.c_str())) {
    std::vector<std::string> stale;
    while (struct dirent* entry = ::readdir(dir)) {
      if (std::string_view(entry->d_name).starts_with(kDownloadFolderPrefix)) stale.push_back(entry->d_name);
    }
    ::closedir(dir);
    for (const std::string& name : stale) {
      const std::string path = downloadRoot_ + "/" + name;
      LOG_INFO("removing the unfinished downloads %s", path.c_str());
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
      if (ec) LOG_ERROR("error deleting %s: %s", path.c_str(), ec.message().c_str());
    }
  }

  std::string pattern = downloadRoot_ + "/" + kDownloadFolderPrefix + "XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    const int saved = errno;
    return loomkit::setUnixError(error, saved,
                                 strprintf("mkdtemp(%s): %s", pattern.c_str(), loomkit::systemErrorText(saved).c_str()));
  }
  tempDir_ = pattern;

  AgentMissingPhotoFinder finder(localIPhotoLibraryPath_, asc_, savedComputer_, *environment_.source);
  std::optional<MissingPhotoFinder::PhotoList> wanted = finder.sortedWantedRemotePhotos(error);
  if (!wanted) return false;
  sortedWantedRemotePhotos_ = std::move(*wanted);
  remoteAlbumData_ = finder.remoteAlbumData();
  rollsByIPhotoId_ = finder.rollsByIPhotoId();
  initialized_ = true;
  return true;
}

bool AutoPhotoRetriever::hasRemainingItems() const {
  if (!initialized_) programmingError("must call initialize first");
  return index_ < sortedWantedRemotePhotos_.size();
}

bool AutoPhotoRetriever::pullNextItem(Error* error) {
  if (!initialized_) programmingError("must call initialize first");
  if (index_ >= sortedWantedRemotePhotos_.size()) programmingError("index must be less than count");

  std::optional<uint64_t> freeBytes = environment_.freeBytes(tempDir_, error);
  if (!freeBytes) return false;
  const uint64_t minimum =
      minFreeDiskSpaceGB_ > UINT64_MAX / kBytesPerGB ? UINT64_MAX : minFreeDiskSpaceGB_ * kBytesPerGB;
  if (*freeBytes < minimum) {
    return loomkit::setError(error, errorDomain(), kFreeSpaceCode,
                             strprintf("Free disk space is below the minimum %luGB",
                                       static_cast<unsigned long>(minFreeDiskSpaceGB_)));
  }
  LOG_TRACE("%llu free bytes is greater than %llu-byte minimum", static_cast<unsigned long long>(*freeBytes),
            static_cast<unsigned long long>(minimum));
  spaceAboveMinimum_ = *freeBytes - minimum;

  const Photo& photo = *sortedWantedRemotePhotos_[index_];
  double delay = 0.5;
  Error failure;
  for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
    LOG_DEBUG("pulling photo %ld of %ld", static_cast<long>(index_), static_cast<long>(sortedWantedRemotePhotos_.size()));
    failure = Error();
    if (copyPhoto(photo, &failure)) {
      ++index_;
      return true;
    }
    if (attempt == kMaxAttempts || failure.is(errorDomain(), kFreeSpaceCode)) break;
    LOG_WARN("failed to pull %s (retrying): %s", photo.description().c_str(), failure.description().c_str());
    delay = std::min(delay * 2, 60.0);
    environment_.sleep(std::chrono::duration<double>(delay));
  }
  return loomkit::passError(error, failure);
}

bool AutoPhotoRetriever::copyPhoto(const Photo& photo, Error* error) {
  const std::string sha1(photo.originalSHA1().value_or(""));
  const std::string originalName = lastPathComponent(photo.originalPath().value_or(""));
  LOG_DEBUG("pulling photo %s (sha1 %s) from %s", originalName.c_str(), sha1.c_str(), asc_->description().c_str());
  if (!asc_->netService()) {
    return loomkit::setError(error, errorDomain(), kServiceGoneCode, "The Fotello service went away");
  }
  if (sha1.empty()) {
    return loomkit::setError(error, errorDomain(), kDigestMismatchCode,
                             strprintf("%s has no original digest", photo.description().c_str()));
  }

  std::optional<std::string> password;
  {
    Error keychainError;
    password = IQVKeyChain::passwordForUUID(asc_->uuid(), &keychainError);
    if (!password && !keychainError.is(PasswordStore::errorDomain(), PasswordStore::kNotFoundCode)) {
      LOG_ERROR("error reading password for %s: %s", asc_->computerName().c_str(), keychainError.description().c_str());
    }
  }
  const IQVData::Headers headers = IQVData::requestHeadersWithPassword(password);

  // Where the file goes: a folder per known roll, names reduced to one safe component each.
  std::string folder = tempDir_;
  const uint64_t rollId = photo.rollId();
  if (rollId <= static_cast<uint64_t>(INT32_MAX)) {
    auto roll = rollsByIPhotoId_.find(static_cast<int32_t>(rollId));
    if (roll != rollsByIPhotoId_.end()) {
      const std::string fallback = strprintf("Roll %d", roll->second.iPhotoId());
      folder += "/" + loomkit::SafeFileName::component(roll->second.name().value_or(""), fallback);
    }
  }
  const std::string fileName = loomkit::SafeFileName::component(originalName, sha1);

  bool tried = false;
  std::optional<Error> lastRequestError;
  for (const std::string& url : IQVData::urlsForRemoteComputer(*asc_, strprintf("/photos/%s/fullsize", sha1.c_str()))) {
    tried = true;
    std::shared_ptr<loomkit::URLConnection> request =
        loomkit::HTTPConnectionFactory::theFactory().newHTTPConnectionToURL(url, "GET");
    for (const auto& [name, value] : headers) request->setRequestHeader(value, name);

    // The folder and the file are made only for an answer worth keeping; the file is claimed
    // with O_EXCL so that nothing already there is ever written through.
    struct stat st;
    if (folder != tempDir_ && ::lstat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) folder = uniquePath(folder);
    if (!makePrivateFolders(folder, error)) return false;
    const std::string path = uniquePath(folder + "/" + fileName);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      const int saved = errno;
      return loomkit::setUnixError(error, saved, strprintf("open(%s): %s", path.c_str(), loomkit::systemErrorText(saved).c_str()));
    }
    uint64_t limit = spaceAboveMinimum_;
    if (photo.originalFileSize() > 0) limit = std::min(limit, photo.originalFileSize());
    BoundedFileOutput out(fd, limit);
    uint64_t bytesWritten = 0;
    Error failure;
    const bool answered = request->executeRequestWritingBodyTo(out, bytesWritten, &failure);
    const bool closed = ::close(fd) == 0;
    if (out.exceeded()) {
      ::unlink(path.c_str());
      if (limit == spaceAboveMinimum_) {
        return loomkit::setError(error, errorDomain(), kFreeSpaceCode,
                                 strprintf("Free disk space is below the minimum %luGB",
                                           static_cast<unsigned long>(minFreeDiskSpaceGB_)));
      }
      return loomkit::setError(error, errorDomain(), kDigestMismatchCode,
                               strprintf("%s from %s is longer than the %llu bytes announced", fileName.c_str(),
                                         url.c_str(), static_cast<unsigned long long>(limit)));
    }
    if (!answered) {
      ::unlink(path.c_str());
      LOG_WARN("%s failed: %s", url.c_str(), failure.description().c_str());
      lastRequestError = failure;
      continue;
    }
    const int code = request->responseCode();
    if (code != 200) {
      ::unlink(path.c_str());
      return loomkit::setError(error, IQVData::httpErrorDomain(), code, strprintf("HTTP error %d", code));
    }
    if (!closed) {
      const int saved = errno;
      ::unlink(path.c_str());
      return loomkit::setUnixError(error, saved, strprintf("close(%s): %s", path.c_str(), loomkit::systemErrorText(saved).c_str()));
    }
    // Only a file whose bytes are the announced photo counts as pulled.
    Error hashError;
    std::optional<std::string> digest = loomkit::SHA1Hash::hashPhoto(path, &hashError);
    if (!digest || *digest != sha1) {
      ::unlink(path.c_str());
      if (!digest) return loomkit::passError(error, hashError);
      return loomkit::setError(error, errorDomain(), kDigestMismatchCode,
                               strprintf("%s from %s has the digest %s instead of %s", fileName.c_str(),
                                         url.c_str(), digest->c_str(), sha1.c_str()));
    }
    if (!photo.applyOriginalMTimeToFile(path, error)) {
      ::unlink(path.c_str());
      return false;
    }
    ::chmod(path.c_str(), 0644);
    LOG_TRACE("wrote %llu bytes to %s", static_cast<unsigned long long>(bytesWritten), path.c_str());
    pulledPhotosByPath_[path] = &photo;
    if (delegate_) {
      const uint64_t index = index_;
      const uint64_t total = sortedWantedRemotePhotos_.size();
      onMainThread([&] { delegate_->autoPhotoRetrieverPulled(index, total, *asc_); });
    }
    return true;
  }
  if (lastRequestError) return loomkit::passError(error, *lastRequestError);
  (void)tried;
  return loomkit::setError(error, errorDomain(), kServiceGoneCode, "The Fotello service went away");
}

std::string AutoPhotoRetriever::uniquePath(const std::string& path) {
  if (!pathExists(path)) return path;
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  // The extension: the last dot and the word characters after it, to the end.
  size_t extension = path.size();
  size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot > nameStart && dot + 1 < path.size() &&
      std::all_of(path.begin() + static_cast<long>(dot) + 1, path.end(),
                  [](unsigned char c) { return std::isalnum(c) || c == '_'; })) {
    extension = dot;
  }
  const std::string stem = path.substr(0, extension);
  const std::string suffix = path.substr(extension);
  for (unsigned long n = 2;; ++n) {
    std::string candidate = strprintf("%s_%lu%s", stem.c_str(), n, suffix.c_str());
    if (!pathExists(candidate)) return candidate;
  }
}

bool AutoPhotoRetriever::importItemsIntoIPhoto(Error* error) {
  importError_.reset();
  itemsImportedCount_ = 0;
  onMainThread([this] { importOnMainThread(); });
  if (importError_) return loomkit::passError(error, *importError_);
  return true;
}

void AutoPhotoRetriever::importOnMainThread() {
  if (pulledPhotosByPath_.empty()) return;
  IPhotoRelauncher relauncher(localIPhotoLibraryPath_, *environment_.application);
  Error relaunchError;
  if (!relauncher.relaunchIfNecessary(&relaunchError)) {
    importError_ = relaunchError;
    LOG_ERROR("error relaunching iPhoto to use %s", localIPhotoLibraryPath_.c_str());
    return;
  }
  LOG_DEBUG("script: import %s", tempDir_.c_str());
  Error scriptError;
  if (!environment_.application->importFolder(tempDir_, false, &scriptError)) {
    Error failure;
    loomkit::setError(&failure, kImportErrorDomain, -1,
                      strprintf("failed to import photos via AppleScript: error %lld: %s",
                                static_cast<long long>(scriptError.code()), scriptError.description().c_str()));
    importError_ = failure;
    return;
  }

  ReceivedDatFile received(localIPhotoLibraryPath_);
  Error folderError;
  if (!loomkit::FileSystem::ensureParentPathExistsForPath(received.datFilePath(), &folderError)) {
    LOG_ERROR("error appending sha1 to received data file: %s", folderError.description().c_str());
  }
  const std::time_t now = std::time(nullptr);
  for (const auto& [path, photo] : pulledPhotosByPath_) {
    retrievalLog_.append(RetrievalLog::retrievalLine(now, asc_->computerName(), std::string(photo->originalPath().value_or(""))));
    Error appendError;
    if (!received.appendSHA1(photo->originalSHA1().value_or(""), &appendError)) {
      LOG_ERROR("error appending sha1 to received data file: %s", appendError.description().c_str());
    }
  }
  itemsImportedCount_ = pulledPhotosByPath_.size();
}

void AutoPhotoRetriever::cleanUp() {
  if (tempDir_.empty() || !pathExists(tempDir_)) return;
  LOG_DEBUG("deleting %s", tempDir_.c_str());
  std::error_code ec;
  std::filesystem::remove_all(tempDir_, ec);
  if (ec) LOG_ERROR("error deleting %s: %s", tempDir_.c_str(), ec.message().c_str());
}

}  // namespace fotello
