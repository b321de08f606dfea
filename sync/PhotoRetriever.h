// One pass of downloads and one import from one automatic peer, as the pull loop drives it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "catalog/AlbumData.h"
#include "loomkit/shared/Error.h"
#include "protocol/AppConfig.h"
#include "protocol/SavedComputer.h"
#include "sync/AutoSyncComputer.h"

namespace fotello {

// Hears each photo the retriever pulled; called on the main thread while the pulling thread waits.
class PhotoRetrieverDelegate {
 public:
  virtual ~PhotoRetrieverDelegate() = default;
  // Photo index (from 0) of total was pulled from the peer.
  virtual void autoPhotoRetrieverPulled(uint64_t index, uint64_t total, const AutoSyncComputer& computer) = 0;
};

// Made for one pass over one peer and used on the pull thread only, in this order: initialize,
// then while hasRemainingItems: setMinFreeDiskSpaceGB and pullNextItem; then, when something was
// pulled, importItemsIntoIPhoto; finally cleanUp. The product's implementation is
// AutoPhotoRetriever; the pull loop's tests use scripted ones.
class PhotoRetriever {
 public:
  virtual ~PhotoRetriever() = default;

  // Prepares the download folder and the list of wanted photos.
  virtual bool initialize(loomkit::Error* error) = 0;
  virtual bool hasRemainingItems() const = 0;
  // The free space (decimal gigabytes) that must remain; set before every photo.
  virtual void setMinFreeDiskSpaceGB(uint64_t gigabytes) = 0;
  // Fetches the next wanted photo, with retries; on success the count of pulled photos grows.
  virtual bool pullNextItem(loomkit::Error* error) = 0;
  virtual uint64_t pulledPhotosCount() const = 0;
  // Imports what was pulled into the local library.
  virtual bool importItemsIntoIPhoto(loomkit::Error* error) = 0;
  // Photos imported by the last successful import.
  virtual uint64_t itemsImportedCount() const = 0;
  // Removes the downloads.
  virtual void cleanUp() = 0;
};

// What the pull loop needs to make a retriever for one pass.
struct PhotoRetrieverRequest {
  std::string localIPhotoLibraryPath;
  std::shared_ptr<const AlbumData> localAlbumData;
  AutoSyncComputer computer;
  SavedComputer savedComputer;
  AppConfig* appConfig;              // not owned
  PhotoRetrieverDelegate* delegate;  // not owned
};

using PhotoRetrieverFactory = std::function<std::unique_ptr<PhotoRetriever>(const PhotoRetrieverRequest& request)>;

}  // namespace fotello
