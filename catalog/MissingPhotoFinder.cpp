#include "catalog/MissingPhotoFinder.h"

#include <algorithm>

#include "catalog/ReceivedDatFile.h"
#include "catalog/SHA1DatFile.h"
#include "loomkit/shared/Log.h"

namespace fotello {

MissingPhotoFinder::MissingPhotoFinder(std::string iPhotoLibraryPath, std::shared_ptr<const AlbumData> albumData)
    : iPhotoLibraryPath_(std::move(iPhotoLibraryPath)), albumData_(std::move(albumData)) {}

std::optional<MissingPhotoFinder::SHA1Set> MissingPhotoFinder::unwantedSHA1s(bool showIgnored,
                                                                             loomkit::Error* error) const {
  SHA1Set unwanted;

  SHA1DatFile library = SHA1DatFile::libraryDatFile(iPhotoLibraryPath_);
  LOG_DEBUG("loading %s", library.description().c_str());
  if (!library.load(error)) return std::nullopt;
  LOG_DEBUG("loaded libraryDatFile %s", library.description().c_str());
  unwanted = library.allSHA1s();

  if (!showIgnored) {
    SHA1DatFile ignored = SHA1DatFile::ignoredDatFile(iPhotoLibraryPath_);
    LOG_DEBUG("loading ignoredDatFile %s", ignored.description().c_str());
    if (!ignored.load(error)) return std::nullopt;
    LOG_DEBUG("loaded ignoredDatFile %s", ignored.description().c_str());
    unwanted.insert(ignored.allSHA1s().begin(), ignored.allSHA1s().end());
  }

  ReceivedDatFile received(iPhotoLibraryPath_);
  LOG_DEBUG("loading receivedDatFile %s", received.description().c_str());
  auto receivedSHA1s = received.allSHA1s(error);
  if (!receivedSHA1s) return std::nullopt;
  LOG_DEBUG("loaded receivedDatFile %s: %lu sha1s", received.description().c_str(),
            static_cast<unsigned long>(receivedSHA1s->size()));
  unwanted.merge(*receivedSHA1s);

  LOG_DEBUG("%lu total unwanted SHA1s", static_cast<unsigned long>(unwanted.size()));
  return unwanted;
}

std::optional<MissingPhotoFinder::PhotoList> MissingPhotoFinder::sortedWantedRemotePhotos(
    bool showIgnored, loomkit::Error* error) const {
  auto unwanted = unwantedSHA1s(showIgnored, error);
  if (!unwanted) return std::nullopt;

  AlbumData::SHA1Set originals = albumData_->originalPhotoSHA1s();
  LOG_DEBUG("remote album data: %lu original SHA1s", static_cast<unsigned long>(originals.size()));
  std::erase_if(originals, [&](std::string_view sha1) { return unwanted->contains(std::string(sha1)); });
  LOG_DEBUG("after removing unwanted SHA1s, %lu original SHA1s", static_cast<unsigned long>(originals.size()));

  PhotoList wanted;
  wanted.reserve(originals.size());
  for (std::string_view sha1 : originals) {
    const Photo* photo = albumData_->photoForSHA1(sha1);
    if (!photo) continue;
    if (auto modified = photo->modifiedSHA1(); modified && unwanted->contains(std::string(*modified))) {
      LOG_TRACE("skipping photo %s because we have its modified version already",
                photo->description().c_str());
      continue;
    }
    wanted.push_back(photo);
  }
  LOG_DEBUG("after checking whether we already have each new photo's modified version already, returning %lu "
            "wanted photos",
            static_cast<unsigned long>(wanted.size()));

  std::stable_sort(wanted.begin(), wanted.end(),
                   [](const Photo* a, const Photo* b) { return a->dateTaken() < b->dateTaken(); });
  return wanted;
}

}  // namespace fotello
