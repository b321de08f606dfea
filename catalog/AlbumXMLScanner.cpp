#include "catalog/AlbumXMLScanner.h"

#include <sys/stat.h>

#include <cerrno>
#include <unordered_set>

#include "loomkit/io/FileSystem.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/plist/PListDocumentReader.h"
#include "loomkit/plist/XMLPlistParser.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace fotello {

using loomkit::Error;
using loomkit::strprintf;

namespace {

constexpr std::string_view kMasterImageList = "Master Image List";
constexpr std::string_view kListOfAlbums = "List of Albums";

bool is(std::optional<std::string_view> key, std::string_view name) { return key && *key == name; }

double secondsSince2001() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count() - Roll::kReferenceDateSince1970;
}

std::string orNull(std::optional<std::string_view> text) { return text ? std::string(*text) : "(null)"; }

}  // namespace

AlbumXMLScanner::AlbumXMLScanner(std::string iPhotoLibraryPath) : iPhotoLibraryPath_(std::move(iPhotoLibraryPath)) {
  albumXMLPath_ = iPhotoLibraryPath_;
  if (albumXMLPath_.empty() || albumXMLPath_.back() != '/') albumXMLPath_ += '/';
  albumXMLPath_ += "AlbumData.xml";
}

std::unique_ptr<AlbumData> AlbumXMLScanner::scan(const AlbumData* previous, bool useSAXParser, Error* error) {
  const double start = secondsSince2001();
  struct stat st;
  if (::stat(albumXMLPath_.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
    loomkit::setError(error, kAlbumXMLScannerErrorDomain, -2, strprintf("%s not found", albumXMLPath_.c_str()));
    return nullptr;
  }
  previousPhotosByIPhotoKey_.clear();
  if (previous) {
    // The new photos will be about as many: one allocation instead of a growing copy.
    parsedPhotos_.reserve(previous->photoCount());
    previousPhotosByIPhotoKey_.reserve(previous->photoCount());
    for (const Photo& photo : previous->allPhotos()) {
      if (auto key = photo.iPhotoKey()) previousPhotosByIPhotoKey_.emplace(*key, &photo);
    }
  }
  // From the first photo on, a worker thread reads the library digest set and stamps the photos'
  // files as they are parsed, so that the walk below finds an unchanged file's stamp ready
  // instead of waiting on a stat (see startChecker).
  librarySHA1s_.emplace(SHA1DatFile::libraryDatFile(iPhotoLibraryPath_));
  sha1sLoaded_ = false;
  sha1sError_ = Error();
  Error parseError;
  const bool parsed = useSAXParser ? parseWithSAXParser(&parseError) : parseWithDocumentReader(&parseError);
  if (checker_) {
    stamps_ = checker_->finish();
    checker_.reset();
  } else {
    sha1sLoaded_ = librarySHA1s_->load(&sha1sError_);
  }
  if (!parsed) {
    LOG_ERROR("parse error: %s", parseError.description().c_str());
    loomkit::passError(error, parseError);
    return nullptr;
  }
  if (!updateSHA1s(error)) return nullptr;
  stamps_ = {};

  // The digests the set lacks are taken before the photos go into the catalog, which drops
  // some of them (their digests are kept in the set all the same).
  std::optional<SHA1DatFile::SHA1Set> missing;
  if (sha1sLoaded_) missing = missingSHA1s(*librarySHA1s_, parsedPhotos_);
  auto catalog = std::make_unique<AlbumData>(iPhotoLibraryPath_, std::move(parsedPhotos_), std::move(parsedAlbums_),
                                             std::move(parsedRolls_), start);
  parsedPhotos_.clear();
  Error saveError;
  if (!catalog->save(&saveError)) LOG_ERROR("error saving complete dat file: %s", saveError.description().c_str());
  if (!missing || !addSHA1s(*librarySHA1s_, *missing, &sha1sError_)) {
    LOG_ERROR("error saving library sha1s file: %s", sha1sError_.description().c_str());
  }
  librarySHA1s_.reset();
  return catalog;
}

void AlbumXMLScanner::startChecker() {
  // Started at the first photo, not before: an index without photos costs no thread.
  if (checker_) return;
  checker_.emplace([this] { sha1sLoaded_ = librarySHA1s_->load(&sha1sError_); });
}

bool AlbumXMLScanner::updateSHA1s(Error* error) {
  LOG_DEBUG("updating SHA1s on %lu parsed photos", static_cast<unsigned long>(parsedPhotos_.size()));
  // Photos that fail are dropped by moving the survivors down in place: kept photos are
  // [0, done), the ones still to do [next, size).
  auto lastSave = std::chrono::steady_clock::now();
  size_t done = 0;
  for (size_t next = 0; next < parsedPhotos_.size(); ++next) {
    const uint64_t remaining = done + (parsedPhotos_.size() - next);
    if (delegate_ && !delegate_->albumXMLScannerShouldContinueWithCurrent(done, remaining)) {
      return loomkit::setError(error, kAlbumSetErrorDomain, -7, "abort requested");
    }
    Photo& photo = parsedPhotos_[next];
    Error photoError;
    const bool updated =
        next < stamps_.size() ? photo.updateSHA1s(stamps_[next], &photoError) : photo.updateSHA1s(&photoError);
    if (!updated) {
      const std::string path = orNull(photo.originalPath());
      LOG_ERROR("error updating SHA1s for %s: %s", path.c_str(), photoError.description().c_str());
      LOG_WARN("ignoring %s", path.c_str());
      continue;
    }
    if (done != next) parsedPhotos_[done] = std::move(photo);
    ++done;
    if (std::chrono::steady_clock::now() - lastSave > incompleteSaveInterval_) {
      saveIncompleteCatalog(done, next + 1);
      lastSave = std::chrono::steady_clock::now();
    }
  }
  parsedPhotos_.resize(done);
  return true;
}

void AlbumXMLScanner::saveIncompleteCatalog(size_t done, size_t next) {
  LOG_DEBUG("index = %lu; saving albumset plist", static_cast<unsigned long>(done));
  std::vector<Photo> photos(parsedPhotos_.begin(), parsedPhotos_.begin() + static_cast<ptrdiff_t>(done));
  photos.insert(photos.end(), parsedPhotos_.begin() + static_cast<ptrdiff_t>(next), parsedPhotos_.end());
  AlbumData incomplete(iPhotoLibraryPath_, std::move(photos), parsedAlbums_, parsedRolls_, std::nullopt);
  Error error;
  if (!incomplete.save(&error)) LOG_ERROR("error saving incomplete dat file: %s", error.description().c_str());
}

bool AlbumXMLScanner::updateLibrarySHA1sFile(const std::vector<Photo>& photos, Error* error) {
  SHA1DatFile file = SHA1DatFile::libraryDatFile(iPhotoLibraryPath_);
  return file.load(error) && addSHA1s(file, missingSHA1s(file, photos), error);
}

SHA1DatFile::SHA1Set AlbumXMLScanner::missingSHA1s(const SHA1DatFile& file, const std::vector<Photo>& photos) {
  SHA1DatFile::SHA1Set missing;
  std::string sha1;  // reused, so that looking a digest up allocates nothing
  auto note = [&](std::optional<std::string_view> digest) {
    if (!digest) return;
    sha1.assign(*digest);
    if (!file.allSHA1s().count(sha1)) missing.insert(sha1);
  };
  for (const Photo& photo : photos) {
    note(photo.originalSHA1());
    note(photo.modifiedSHA1());
  }
  return missing;
}

bool AlbumXMLScanner::addSHA1s(SHA1DatFile& file, const SHA1DatFile::SHA1Set& missing, Error* error) {
  if (missing.empty()) return true;  // the file already holds every digest
  file.addSHA1s(missing);
  return loomkit::FileSystem::ensureParentPathExistsForPath(file.path(), error) && file.save(error);
}

Photo AlbumXMLScanner::photoForKey(Key key) const {
  if (key) {
    auto found = previousPhotosByIPhotoKey_.find(*key);
    if (found != previousPhotosByIPhotoKey_.end()) return *found->second;
  }
  Photo photo;
  photo.setIPhotoKey(key);
  return photo;
}

// ---- the event reader ----

bool AlbumXMLScanner::parseWithSAXParser(Error* error) {
  LOG_INFO("parsing %s using SAX parser", albumXMLPath_.c_str());
  parseSucceeded_ = true;
  loomkit::XMLPlistParser parser(albumXMLPath_);
  parser.setDelegate(this);
  parser.parse();
  lastPhoto_.reset();
  lastAlbum_.reset();
  if (!parseSucceeded_) return loomkit::passError(error, parseError_);
  return true;
}

void AlbumXMLScanner::didStartDict(loomkit::XMLPlistParser&, Key key) {
  ++treeLevel_;
  if (treeLevel_ == 2 && inMasterImageList_) {
    lastPhoto_ = photoForKey(key);
  } else if (treeLevel_ == 1 && is(key, kMasterImageList)) {
    // Only the root's photo table counts: a dictionary of that name deeper down (a hostile or
    // odd index) neither opens nor closes it.
    inMasterImageList_ = true;
  }
}

void AlbumXMLScanner::didEndDict(loomkit::XMLPlistParser&, Key key) {
  if (treeLevel_ == 2 && lastPhoto_) {
    startChecker();
    checker_->add(lastPhoto_->originalPath(), lastPhoto_->modifiedPath());
    parsedPhotos_.push_back(std::move(*lastPhoto_));
    lastPhoto_.reset();
  } else if (treeLevel_ == 1 && is(key, kMasterImageList)) {
    inMasterImageList_ = false;
  }
  leaveLevel();
}

void AlbumXMLScanner::didStartDictInArray(loomkit::XMLPlistParser&, Key key) {
  ++treeLevel_;
  if (treeLevel_ == 2 && is(key, kListOfAlbums)) lastAlbum_.emplace();
}

void AlbumXMLScanner::didEndDictInArray(loomkit::XMLPlistParser&, Key key) {
  if (treeLevel_ == 2 && is(key, kListOfAlbums) && lastAlbum_) {
    if (!lastAlbum_->isMaster()) parsedAlbums_.push_back(std::move(*lastAlbum_));
    lastAlbum_.reset();
  }
  leaveLevel();
}

template <class Set>
void AlbumXMLScanner::setValue(Key key, Set set) {
  if (!key) return;
  if (lastPhoto_) set(*lastPhoto_, *key);
  else if (lastAlbum_ && treeLevel_ == 2) set(*lastAlbum_, *key);
}

void AlbumXMLScanner::foundString(loomkit::XMLPlistParser&, std::string_view value, Key key) {
  setValue(key, [&](auto& record, std::string_view k) { record.setString(value, k); });
}

void AlbumXMLScanner::foundInteger(loomkit::XMLPlistParser&, int64_t value, Key key) {
  setValue(key, [&](auto& record, std::string_view k) { record.setInteger(value, k); });
}

void AlbumXMLScanner::foundBoolean(loomkit::XMLPlistParser&, bool value, Key key) {
  setValue(key, [&](auto& record, std::string_view k) { record.setBoolean(value, k); });
}

void AlbumXMLScanner::foundReal(loomkit::XMLPlistParser&, double value, Key key) {
  setValue(key, [&](auto& record, std::string_view k) { record.setReal(value, k); });
}

void AlbumXMLScanner::foundStringInArray(loomkit::XMLPlistParser&, std::string_view value, Key key) {
  // A master album is dropped at its end, so once it is known to be one its keys (every photo
  // of the library) need not be collected.
  if (lastAlbum_ && !lastAlbum_->isMaster() && is(key, "KeyList")) lastAlbum_->addPhotoKey(std::string(value));
}

void AlbumXMLScanner::parseErrorOccurred(loomkit::XMLPlistParser&, const Error& error, int64_t line, int64_t column) {
  parseSucceeded_ = false;
  std::string description = strprintf("Error parsing %s at line %li column %li: %s", albumXMLPath_.c_str(),
                                      static_cast<long>(line), static_cast<long>(column), error.description().c_str());
  loomkit::setError(&parseError_, kAlbumXMLScannerErrorDomain, error.code(), std::move(description));
}

// ---- the whole-document reader ----

bool AlbumXMLScanner::parseWithDocumentReader(Error* error) {
  LOG_INFO("parsing %s using NSPropertyListSerialization", albumXMLPath_.c_str());
  Error readError;
  std::unique_ptr<loomkit::DictNode> root = loomkit::PListDocumentReader::dictNodeWithContentsOfFile(albumXMLPath_, &readError);
  if (!root) {
    // A read error stands as it is; a malformed document is this scanner's -1.
    if (readError.domain() != loomkit::kPListErrorDomain) return loomkit::passError(error, readError);
    return loomkit::setError(error, kAlbumXMLScannerErrorDomain, -1, readError.description());
  }

  std::unordered_set<uint64_t> rollIds;
  if (const loomkit::ArrayNode* rolls = root->arrayNodeForKey("List of Rolls")) {
    for (size_t i = 0; i < rolls->size(); ++i) {
      const loomkit::DictNode* dict = rolls->dictNodeAtIndex(i);
      if (!dict) continue;
      parsedRolls_.emplace_back(*dict);
      rollIds.insert(static_cast<uint64_t>(static_cast<int64_t>(parsedRolls_.back().iPhotoId())));
    }
  }
  LOG_DEBUG("parsed %lu rolls", static_cast<unsigned long>(parsedRolls_.size()));

  if (const loomkit::DictNode* photos = root->dictNodeForKey(kMasterImageList)) {
    LOG_DEBUG("parsed %lu photos", static_cast<unsigned long>(photos->size()));
    for (const std::string& key : photos->orderedKeySet()) {
      const loomkit::DictNode* dict = photos->dictNodeForKey(key);
      if (!dict) continue;
      Photo photo = photoForKey(std::string_view(key));
      photo.setFromPlist(*dict);
      if (rollIds.count(photo.rollId())) {
        startChecker();
        checker_->add(photo.originalPath(), photo.modifiedPath());
        parsedPhotos_.push_back(std::move(photo));
      } else {
        LOG_DEBUG("skipping photo because it's not in a roll: %s", photo.description().c_str());
      }
    }
  }

  if (const loomkit::ArrayNode* albums = root->arrayNodeForKey(kListOfAlbums)) {
    for (size_t i = 0; i < albums->size(); ++i) {
      const loomkit::DictNode* dict = albums->dictNodeAtIndex(i);
      if (!dict) continue;
      Album album;
      album.setFromPlist(*dict);
      parsedAlbums_.push_back(std::move(album));
    }
  }
  LOG_DEBUG("parsed %lu albums", static_cast<unsigned long>(parsedAlbums_.size()));
  return true;
}

}  // namespace fotello
