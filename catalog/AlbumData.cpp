#include "catalog/AlbumData.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "catalog/LibraryDataDirectory.h"
#include "loomkit/crypto/Digest.h"
#include "loomkit/io/BooleanIO.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/FileInputStreamFactory.h"
#include "loomkit/io/FileOutputStream.h"
#include "loomkit/io/FileSystem.h"
#include "loomkit/io/IntegerIO.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "protocol/IQVData.h"

namespace fotello {

using loomkit::Error;
using loomkit::strprintf;

namespace {

constexpr const char* kCacheFileName = "albumData.dat";
// Records reserved ahead when the stream's length is unknown; more grow as they arrive.
constexpr uint64_t kBlindReservation = 4096;

// An output stream that feeds everything written into a SHA-1 computation.
class DigestOutputStream final : public loomkit::OutputStream {
 public:
  int64_t write(const void* bytes, uint64_t length, Error*) override {
    digest_.update(bytes, length);
    written_ += length;
    return static_cast<int64_t>(length);
  }
  uint64_t bytesWritten() const override { return written_; }
  std::string description() const override { return "<DigestOutputStream>"; }
  std::string finishText() { return digest_.finishText(); }

 private:
  loomkit::Digest digest_{loomkit::Digest::sha1()};
  uint64_t written_ = 0;
};

// Absent keys first, then plain code-point order of the text (the byte order of UTF-8).
bool keyTextLess(const Photo& a, const Photo& b) { return a.iPhotoKey() < b.iPhotoKey(); }

// The scan date's whole seconds as stored: the fraction dropped, clamped to the UInt64 range.
uint64_t storedSeconds(double seconds) {
  if (!(seconds > 0)) return 0;
  if (seconds >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<uint64_t>(seconds);
}

// "2001-01-01 00:01:40 +0000" for seconds since 2001-01-01 UTC, "(null)" for none.
std::string dateText(const std::optional<double>& since2001) {
  if (!since2001) return "(null)";
  time_t t = static_cast<time_t>(std::floor(*since2001 + Roll::kReferenceDateSince1970));
  struct tm parts;
  char text[64];
  if (!gmtime_r(&t, &parts) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts) == 0) {
    return strprintf("%.0f", *since2001);
  }
  return text;
}

// The status of path; false, logging "stat(%@): %s" at error level unless the file is missing.
bool statForRescan(const std::string& path, struct stat& st) {
  if (::stat(path.c_str(), &st) == 0) return true;
  int e = errno;
  if (e != ENOENT) LOG_ERROR("stat(%s): %s", path.c_str(), loomkit::systemErrorText(e).c_str());
  return false;
}

// The sequence number of a rotated copy's name "albumData.dat.N", or nothing.
std::optional<uint64_t> rotationNumber(std::string_view name) {
  constexpr std::string_view kPrefix = "albumData.dat.";
  if (name.size() <= kPrefix.size() || name.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  uint64_t number = 0;
  for (char c : name.substr(kPrefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number > UINT64_MAX / 10 - 1 ? UINT64_MAX - 1 : number * 10 + static_cast<uint64_t>(c - '0');
  }
  return number;
}

// Moves the present catalog file to the next rotated name, keeping it and the two newest copies.
void rotate(const std::string& path) {
  if (!loomkit::FileSystem::exists(path)) return;
  const std::string dir = loomkit::FileSystem::parentPath(path);
  DIR* listing = ::opendir(dir.c_str());
  if (!listing) {
    int e = errno;
    LOG_ERROR("error shuffling dat files: %s", loomkit::systemErrorText(e).c_str());
    return;
  }
  std::vector<std::pair<uint64_t, std::string>> copies;
  while (const dirent* entry = ::readdir(listing)) {
    if (auto number = rotationNumber(entry->d_name)) copies.emplace_back(*number, entry->d_name);
  }
  ::closedir(listing);
  // By number, so that a copy past 9999 still counts as the newest.
  std::sort(copies.begin(), copies.end());
  const uint64_t last = copies.empty() ? 0 : copies.back().first;
  for (size_t i = 0; copies.size() >= 3 && i + 2 < copies.size(); ++i) {
    const std::string old = dir + "/" + copies[i].second;
    LOG_DEBUG("removing %s", old.c_str());
    if (::unlink(old.c_str()) != 0) {
      int e = errno;
      LOG_ERROR("error removing %s: %s", old.c_str(), loomkit::systemErrorText(e).c_str());
    }
  }
  const std::string target = path + strprintf(".%04llu", static_cast<unsigned long long>(last + 1));
  LOG_DEBUG("moving %s to %s", path.c_str(), target.c_str());
  if (::rename(path.c_str(), target.c_str()) != 0) {
    int e = errno;
    LOG_ERROR("error shuffling dat files: rename(%s, %s): %s", path.c_str(), target.c_str(),
              loomkit::systemErrorText(e).c_str());
  }
}

}  // namespace

AlbumData::AlbumData(std::optional<std::string> iPhotoLibraryPath) : iPhotoLibraryPath_(std::move(iPhotoLibraryPath)) {}

AlbumData::AlbumData(std::optional<std::string> iPhotoLibraryPath, std::vector<Photo> photos,
                     std::vector<Album> albums, std::vector<Roll> rolls, std::optional<double> scanDate)
    : iPhotoLibraryPath_(std::move(iPhotoLibraryPath)), photos_(std::move(photos)), scanDate_(scanDate) {
  dropRedundantPhotos();
  indexPhotos(true);
  for (Album& album : albums) albumsByIPhotoId_.insert_or_assign(album.iPhotoId(), std::move(album));
  for (Roll& roll : rolls) rollsByIPhotoId_.insert_or_assign(roll.iPhotoId(), std::move(roll));
}

void AlbumData::dropRedundantPhotos() {
  // Which photo has each modified digest; null when more than one has it.
  std::unordered_map<std::string_view, const Photo*> editedBy;
  for (const Photo& photo : photos_) {
    if (auto modified = photo.modifiedSHA1()) {
      auto [it, added] = editedBy.emplace(*modified, &photo);
      if (!added) it->second = nullptr;
    }
  }
  std::vector<bool> keep(photos_.size());
  for (size_t i = 0; i < photos_.size(); ++i) {
    const Photo& photo = photos_[i];
    std::optional<std::string_view> original = photo.originalSHA1();
    keep[i] = original || photo.modifiedSHA1();
    if (!original) continue;
    auto it = editedBy.find(*original);
    if (it != editedBy.end() && it->second != &photo) {
      LOG_DEBUG("%s's originalSHA1 matches the modifiedSHA1 of another photo; dropping it", photo.description().c_str());
      keep[i] = false;
    }
  }
  editedBy.clear();  // its keys point into photos_, which moves below
  size_t kept = 0;
  for (size_t i = 0; i < photos_.size(); ++i) {
    if (keep[i] && kept != i) photos_[kept] = std::move(photos_[i]);
    if (keep[i]) ++kept;
  }
  photos_.erase(photos_.begin() + static_cast<ptrdiff_t>(kept), photos_.end());
}

void AlbumData::indexPhotos(bool logDuplicates) {
  if (!std::is_sorted(photos_.begin(), photos_.end(), keyTextLess)) {
    // Sorting positions and moving each photo once is cheaper than moving whole photos around.
    std::vector<size_t> order(photos_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return keyTextLess(photos_[a], photos_[b]); });
    // Place the photos in that order in place, cycle by cycle: position i takes the photo from
    // order[i]; a done position is marked by order[i] == i.
    for (size_t start = 0; start < order.size(); ++start) {
      if (order[start] == start) continue;
      Photo held = std::move(photos_[start]);
      size_t at = start;
      while (order[at] != start) {
        const size_t from = order[at];
        photos_[at] = std::move(photos_[from]);
        order[at] = at;
        at = from;
      }
      photos_[at] = std::move(held);
      order[at] = at;
    }
  }
  photoArraysBySHA1_.reserve(photos_.size());
  for (const Photo& photo : photos_) {
    std::optional<std::string_view> original = photo.originalSHA1();
    std::optional<std::string_view> modified = photo.modifiedSHA1();
    if (original) storePhoto(photo, *original, "originalSHA1", logDuplicates);
    // A photo whose edit left the digest unchanged is listed once under it.
    if (modified && modified != original) storePhoto(photo, *modified, "modifiedSHA1", logDuplicates);
  }
}

void AlbumData::storePhoto(const Photo& photo, std::string_view sha1, const char* which, bool logDuplicates) {
  PhotoList& list = photoArraysBySHA1_[sha1];
  if (!list.empty() && logDuplicates) {
    LOG_DEBUG("%s's %s is duplicate of %s", photo.description().c_str(), which, list.front()->description().c_str());
  }
  // After the photos with a smaller or equal key number: the list stays sorted, stably.
  auto at = std::upper_bound(list.begin(), list.end(), &photo,
                             [](const Photo* a, const Photo* b) { return a->compareByIPhotoKey(*b) < 0; });
  list.insert(at, &photo);
}

std::unique_ptr<AlbumData> AlbumData::newFromCacheForIPhotoLibraryPath(const std::string& iPhotoLibraryPath,
                                                                       Error* error) {
  return newFromCacheFile(cachePathForIPhotoLibraryPath(iPhotoLibraryPath), iPhotoLibraryPath, error);
}

std::unique_ptr<AlbumData> AlbumData::newFromCacheFile(const std::string& path,
                                                       std::optional<std::string> iPhotoLibraryPath, Error* error) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return std::make_unique<AlbumData>(std::move(iPhotoLibraryPath));
  std::unique_ptr<loomkit::FileInputStreamFactory> factory = loomkit::FileInputStreamFactory::newWithPath(path, error);
  if (!factory) return nullptr;
  loomkit::BufferedInputStream in(factory->newInputStream());
  return loadFromStream(in, factory->length(), std::move(iPhotoLibraryPath), error);
}

std::unique_ptr<AlbumData> AlbumData::newFromData(std::shared_ptr<const loomkit::Bytes> data, Error* error) {
  const uint64_t length = data->size();
  loomkit::BufferedInputStream in(std::make_unique<loomkit::DataInputStream>(std::move(data)));
  return loadFromStream(in, length, std::nullopt, error);
}

std::unique_ptr<AlbumData> AlbumData::newFromRemoteComputer(const RemoteComputer& peer, Error* error) {
  LOG_DEBUG("getting /albumdata from %s", peer.computerName().c_str());
  std::optional<loomkit::Bytes> data = IQVData::dataFromRemoteComputer(peer, "/albumdata", nullptr, error);
  if (!data) return nullptr;
  return newFromData(std::make_shared<const loomkit::Bytes>(std::move(*data)), error);
}

std::unique_ptr<AlbumData> AlbumData::loadFromStream(loomkit::BufferedInputStream& from, uint64_t byteCount,
                                                     std::optional<std::string> iPhotoLibraryPath, Error* error) {
  using loomkit::IntegerIO;
  const uint64_t start = from.bytesReceived();
  // The most records of the given minimum size that the unread bytes can hold.
  auto reservable = [&](uint64_t count, uint64_t recordSize) {
    if (byteCount == kUnknownLength) return std::min(count, kBlindReservation);
    const uint64_t consumed = from.bytesReceived() - start;
    return std::min(count, (byteCount > consumed ? byteCount - consumed : 0) / recordSize);
  };

  auto catalog = std::make_unique<AlbumData>(std::move(iPhotoLibraryPath));
  uint32_t version = 0;
  if (!IntegerIO::readUInt32(version, from, error)) return nullptr;
  if (version != kVersion) {
    loomkit::setError(error, kAlbumDataErrorDomain, -1,
                      strprintf("invalid AlbumData version %u; expected %u", version, kVersion));
    return nullptr;
  }

  uint64_t count = 0;
  if (!IntegerIO::readUInt64(count, from, error)) return nullptr;
  catalog->photos_.reserve(reservable(count, Photo::kMinimumRecordSize));
  for (uint64_t i = 0; i < count; ++i) {
    std::optional<Photo> photo = Photo::initFromStream(from, error);
    if (!photo) return nullptr;
    if (!photo->originalSHA1() && !photo->modifiedSHA1()) {
      LOG_WARN("%s has no original SHA1 and no modified SHA1", photo->description().c_str());
      continue;
    }
    catalog->photos_.push_back(std::move(*photo));
  }

  if (!IntegerIO::readUInt64(count, from, error)) return nullptr;
  for (uint64_t i = 0; i < count; ++i) {
    std::optional<Album> album = Album::initFromStream(from, error);
    if (!album) return nullptr;
    catalog->albumsByIPhotoId_.insert_or_assign(album->iPhotoId(), std::move(*album));
  }
  if (!IntegerIO::readUInt64(count, from, error)) return nullptr;
  for (uint64_t i = 0; i < count; ++i) {
    std::optional<Roll> roll = Roll::initFromStream(from, error);
    if (!roll) return nullptr;
    catalog->rollsByIPhotoId_.insert_or_assign(roll->iPhotoId(), std::move(*roll));
  }

  bool noScanDate = true;
  if (!loomkit::BooleanIO::read(noScanDate, from, error)) return nullptr;
  if (!noScanDate) {
    uint64_t seconds = 0;
    if (!IntegerIO::readUInt64(seconds, from, error)) return nullptr;
    catalog->scanDate_ = static_cast<double>(seconds);
  }
  catalog->indexPhotos(false);
  return catalog;
}

bool AlbumData::writeToStream(loomkit::BufferedOutputStream& to, Error* error) const {
  using loomkit::IntegerIO;
  if (!IntegerIO::writeUInt32(kVersion, to, error) || !IntegerIO::writeUInt64(photos_.size(), to, error)) return false;
  for (const Photo& photo : photos_) {
    if (!photo.writeToStream(to, error)) return false;
  }
  if (!IntegerIO::writeUInt64(albumsByIPhotoId_.size(), to, error)) return false;
  for (const auto& [id, album] : albumsByIPhotoId_) {
    if (!album.writeToStream(to, error)) return false;
  }
  if (!IntegerIO::writeUInt64(rollsByIPhotoId_.size(), to, error)) return false;
  for (const auto& [id, roll] : rollsByIPhotoId_) {
    if (!roll.writeToStream(to, error)) return false;
  }
  LOG_DEBUG("writing scanDate %s to albumData.dat", dateText(scanDate_).c_str());
  if (!loomkit::BooleanIO::write(!scanDate_, to, error)) return false;
  if (scanDate_ && !IntegerIO::writeUInt64(storedSeconds(*scanDate_), to, error)) return false;
  LOG_DEBUG("AlbumData: saved %lu photos, %lu albums, %lu rolls", static_cast<unsigned long>(photos_.size()),
            static_cast<unsigned long>(albumsByIPhotoId_.size()), static_cast<unsigned long>(rollsByIPhotoId_.size()));
  return true;
}

bool AlbumData::save(Error* error) const {
  if (!iPhotoLibraryPath_) {
    return loomkit::setError(error, kAlbumDataErrorDomain, -1, "a catalog without a library path cannot be saved");
  }
  const std::string path = cachePathForIPhotoLibraryPath(*iPhotoLibraryPath_);
  if (!loomkit::FileSystem::ensureParentPathExistsForPath(path, error)) return false;
  rotate(path);
  loomkit::BufferedOutputStream out(std::make_unique<loomkit::FileOutputStream>(path, false));
  if (!writeToStream(out, error) || !out.flush(error)) return false;
  if (scanDate_) {
    const std::string flag = completeFlagPathForIPhotoLibraryPath(*iPhotoLibraryPath_);
    Error touchError;
    if (!loomkit::FileSystem::touchFileAtPath(flag, &touchError)) {
      LOG_ERROR("error touching %s: %s", flag.c_str(), touchError.description().c_str());
    }
  }
  return true;
}

std::vector<std::string_view> AlbumData::allPhotoSHA1s() const {
  std::vector<std::string_view> sha1s;
  sha1s.reserve(photoArraysBySHA1_.size());
  for (const auto& [sha1, list] : photoArraysBySHA1_) sha1s.push_back(sha1);
  return sha1s;
}

AlbumData::SHA1Set AlbumData::originalPhotoSHA1s() const {
  SHA1Set sha1s;
  for (const Photo& photo : photos_) {
    if (auto sha1 = photo.originalSHA1()) sha1s.insert(*sha1);
  }
  return sha1s;
}

uint64_t AlbumData::originalPhotoSHA1Count() const {
  // Every status record of the agent carries this count: a large catalog must not be walked for
  // each "/status" request or TXT update.
  std::call_once(originalCountOnce_, [this] { originalCount_ = originalPhotoSHA1s().size(); });
  return originalCount_;
}

AlbumData::SHA1Set AlbumData::modifiedPhotoSHA1s() const {
  SHA1Set sha1s;
  for (const Photo& photo : photos_) {
    if (auto sha1 = photo.modifiedSHA1()) sha1s.insert(*sha1);
  }
  return sha1s;
}

const Photo* AlbumData::photoForSHA1(std::string_view sha1) const {
  const PhotoList& list = allPhotosForSHA1(sha1);
  return list.empty() ? nullptr : list.front();
}

const AlbumData::PhotoList& AlbumData::allPhotosForSHA1(std::string_view sha1) const {
  static const PhotoList kNone;
  auto it = photoArraysBySHA1_.find(sha1);
  return it == photoArraysBySHA1_.end() ? kNone : it->second;
}

const std::optional<std::string>& AlbumData::sha1() const {
  std::call_once(sha1Once_, [this] {
    if (!scanDate_) return;
    auto digest = std::make_unique<DigestOutputStream>();
    DigestOutputStream* sink = digest.get();
    loomkit::BufferedOutputStream out(std::move(digest));
    Error error;
    if (!writeToStream(out, &error) || !out.flush(&error)) {
      LOG_ERROR("unexpected error writing AlbumData to DataOutputStream: %s", error.description().c_str());
      return;
    }
    sha1_ = sink->finishText();
  });
  return sha1_;
}

bool AlbumData::needsRescan() const {
  bool needs = true;
  if (scanDate_ && iPhotoLibraryPath_ && loomkit::FileSystem::exists(completeFlagPathForIPhotoLibraryPath(*iPhotoLibraryPath_))) {
    std::string index = *iPhotoLibraryPath_;
    if (index.empty() || index.back() != '/') index += '/';
    index += "AlbumData.xml";
    struct stat indexStat, catalogStat;
    if (statForRescan(index, indexStat) &&
        statForRescan(cachePathForIPhotoLibraryPath(*iPhotoLibraryPath_), catalogStat)) {
      const timespec& a = indexStat.st_mtim;
      const timespec& b = catalogStat.st_mtim;
      needs = a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
    }
  }
  LOG_DEBUG("AlbumXML %s rescan", needs ? "needs" : "does not need");
  return needs;
}

bool AlbumData::isEqualToAlbumData(const AlbumData& other) const {
  if (this == &other) return true;
  if (!rollsByIPhotoId_.empty() || !other.rollsByIPhotoId_.empty()) return false;
  if (photoArraysBySHA1_.size() != other.photoArraysBySHA1_.size() || albumsByIPhotoId_ != other.albumsByIPhotoId_) {
    return false;
  }
  for (const auto& [sha1, list] : photoArraysBySHA1_) {
    const PhotoList& theirs = other.allPhotosForSHA1(sha1);
    if (!std::equal(list.begin(), list.end(), theirs.begin(), theirs.end(),
                    [](const Photo* a, const Photo* b) { return a->isEqualToPhoto(*b); })) {
      return false;
    }
  }
  return true;
}

std::string AlbumData::description() const {
  return strprintf("<AlbumData: %lu photos %lu albums %lu rolls>", static_cast<unsigned long>(photos_.size()),
                   static_cast<unsigned long>(albumsByIPhotoId_.size()),
                   static_cast<unsigned long>(rollsByIPhotoId_.size()));
}

bool AlbumData::existsForIPhotoLibraryPath(const std::string& iPhotoLibraryPath) {
  return loomkit::FileSystem::exists(cachePathForIPhotoLibraryPath(iPhotoLibraryPath));
}

std::string AlbumData::cachePathForIPhotoLibraryPath(const std::string& iPhotoLibraryPath) {
  return LibraryDataDirectory::filePath(iPhotoLibraryPath, kCacheFileName);
}

std::string AlbumData::completeFlagPathForIPhotoLibraryPath(const std::string& iPhotoLibraryPath) {
  return cachePathForIPhotoLibraryPath(iPhotoLibraryPath) + ".complete";
}

}  // namespace fotello
