// One pass over one automatic peer: works out its wanted photos, downloads each full-size original
// into a private folder, checks it against the digest the peer announced, imports the folder into
// the local library, and records what arrived.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/AlbumData.h"
#include "catalog/MissingPhotoFinder.h"
#include "loomkit/shared/Error.h"
#include "protocol/PeerDataSource.h"
#include "protocol/PhotoApplication.h"
#include "protocol/RetrievalLog.h"
#include "sync/PhotoRetriever.h"

namespace fotello {

// Made, used and dropped on the pull thread (every member is that thread's); the import, the
// retrieval-log appends and the progress reports run on the main thread while the pull thread
// waits, and touch only members the pull thread does not use meanwhile. Each retriever has a
// download folder of its own, "Data.noindex/incoming/pass-XXXXXX" in the data directory (mode
// 0700, made by initialize), and cleanUp removes only that folder.
class AutoPhotoRetriever final : public PhotoRetriever {
 public:
  static std::string_view errorDomain() { return "AutoPhotoRetrieverErrorDomain"; }
  // Free space below the minimum.
  static constexpr int64_t kFreeSpaceCode = -1;
  // A downloaded file whose digest is not the one announced for it.
  static constexpr int64_t kDigestMismatchCode = -2;
  // The peer's service is gone.
  static constexpr int64_t kServiceGoneCode = -13;
  static constexpr int kMaxAttempts = 5;
  static constexpr uint64_t kBytesPerGB = 1000000000;

  // What a test replaces; every empty member takes the product's choice.
  struct Environment {
    // The free bytes of the file system holding path (default: statvfs, bytes available to
    // unprivileged users); nothing with the error.
    std::function<std::optional<uint64_t>(const std::string& path, loomkit::Error* error)> freeBytes;
    // The pause between attempts (default: the thread sleeps).
    std::function<void(std::chrono::duration<double>)> sleep;
    // The application that imports (default: PhotolibApplication); must outlive the retriever.
    PhotoApplication* application = nullptr;
    // Where the wanted list's catalog comes from (default: the peer request client).
    PeerDataSource* source = nullptr;
    // The folder holding the download folders (default: "Data.noindex/incoming" in the data
    // directory).
    std::string downloadRoot;
    // The retrieval log (default: RetrievalLog::defaultPath()).
    std::string retrievalLogPath;
  };

  explicit AutoPhotoRetriever(const PhotoRetrieverRequest& request);
  AutoPhotoRetriever(const PhotoRetrieverRequest& request, Environment environment);
  ~AutoPhotoRetriever() override;
  AutoPhotoRetriever(const AutoPhotoRetriever&) = delete;
  AutoPhotoRetriever& operator=(const AutoPhotoRetriever&) = delete;

  // The pull loop's factory of product retrievers.
  static PhotoRetrieverFactory factory();
  // "Data.noindex/incoming" in the data directory.
  static std::string defaultDownloadRoot();

  // Makes the download folder (and its parents, 0700) and fetches the wanted list; called again,
  // it starts over with a new folder.
  bool initialize(loomkit::Error* error) override;
  bool hasRemainingItems() const override;
  void setMinFreeDiskSpaceGB(uint64_t gigabytes) override { minFreeDiskSpaceGB_ = gigabytes; }
  // The free-space check, then up to five attempts with pauses of 1, 2, 4 and 8 s between them.
  // A file may not take the free space below the minimum, nor be longer than the size the peer
  // announced; the first fails the photo at once, as a failed check does.
  bool pullNextItem(loomkit::Error* error) override;
  uint64_t pulledPhotosCount() const override { return index_; }
  // Relaunches the application with the local library if needed and imports the download folder
  // on the main thread; on success logs one retrieval line and appends one received digest per
  // pulled photo.
  bool importItemsIntoIPhoto(loomkit::Error* error) override;
  uint64_t itemsImportedCount() const override { return itemsImportedCount_; }
  // Removes this retriever's download folder, and the folder above it when that is left empty.
  void cleanUp() override;

  // This retriever's download folder; empty before initialize.
  const std::string& tempDir() const { return tempDir_; }
  // The number of wanted photos.
  uint64_t wantedCount() const { return sortedWantedRemotePhotos_.size(); }
  // The files pulled so far and their photos.
  const std::map<std::string, const Photo*>& pulledPhotosByPath() const { return pulledPhotosByPath_; }

  // path made unique among existing files: "NAME_2.EXT", "NAME_3.EXT", ... (the extension being
  // the last dot and the word characters after it; without one the number goes at the end).
  static std::string uniquePath(const std::string& path);

 private:
  // One attempt at the photo: downloads it into its file, verifies and stamps it.
  bool copyPhoto(const Photo& photo, loomkit::Error* error);
  // Writes the 200 body of one request into a new file at path; removes it on any failure.
  bool downloadTo(const std::string& url, const std::string& path, const Photo& photo, bool& answered,
                  loomkit::Error* error);
  // The import steps, on the main thread.
  void importOnMainThread();

  const std::string localIPhotoLibraryPath_;
  const std::shared_ptr<const AlbumData> localAlbumData_;
  const std::shared_ptr<const AutoSyncComputer> asc_;
  const SavedComputer savedComputer_;
  AppConfig* const appConfig_;
  PhotoRetrieverDelegate* const delegate_;
  Environment environment_;
  std::unique_ptr<PhotoApplication> ownApplication_;

  std::string downloadRoot_;
  std::string tempDir_;
  // The peer's catalog, which owns the wanted photos.
  std::shared_ptr<const AlbumData> remoteAlbumData_;
  MissingPhotoFinder::PhotoList sortedWantedRemotePhotos_;
  AlbumData::RollMap rollsByIPhotoId_;
  uint64_t index_ = 0;
  uint64_t minFreeDiskSpaceGB_ = 0;
  // What the free-space check of the current photo left above the minimum: the most its file
  // may take.
  uint64_t spaceAboveMinimum_ = 0;
  bool initialized_ = false;
  std::map<std::string, const Photo*> pulledPhotosByPath_;
  uint64_t itemsImportedCount_ = 0;
  RetrievalLog retrievalLog_;
  std::optional<loomkit::Error> importError_;
};

}  // namespace fotello
