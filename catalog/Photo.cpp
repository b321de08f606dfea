#include "catalog/Photo.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <climits>
#include <functional>

#include "loomkit/crypto/SHA1Hash.h"
#include "loomkit/io/DoubleIO.h"
#include "loomkit/io/IntegerIO.h"
#include "loomkit/io/StringIO.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace fotello {

using loomkit::Error;
using loomkit::strprintf;

namespace {

// The value of the leading decimal digits after blanks and an optional sign, clamped to 32 bits.
int32_t keyNumber(std::string_view key) {
  size_t i = 0;
  while (i < key.size() && (key[i] == ' ' || key[i] == '\t' || key[i] == '\n')) ++i;
  bool negative = false;
  if (i < key.size() && (key[i] == '+' || key[i] == '-')) negative = key[i++] == '-';
  int64_t value = 0;
  for (; i < key.size() && key[i] >= '0' && key[i] <= '9'; ++i) {
    value = value * 10 + (key[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) break;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

std::optional<std::string_view> nonEmpty(std::string_view value) {
  if (value.empty()) return std::nullopt;
  return value;
}

// Both present and equal: the rule of the fields where an absent value equals nothing.
bool presentAndEqual(std::optional<std::string_view> a, std::optional<std::string_view> b) {
  return a && b && *a == *b;
}

const char* orNull(const std::optional<std::string_view>& value, std::string& storage) {
  if (!value) return "(null)";
  storage.assign(*value);
  return storage.c_str();
}

// The status of path, following links; "%@: %s" (UnixErrorDomain) on failure.
bool statFile(const std::string& path, struct stat& st, Error* error) {
  if (::stat(path.c_str(), &st) == 0) return true;
  int e = errno;
  return loomkit::setUnixError(error, e, strprintf("%s: %s", path.c_str(), loomkit::systemErrorText(e).c_str()));
}

}  // namespace

Photo::Photo(std::string_view iPhotoKey) { setIPhotoKey(iPhotoKey); }

std::optional<std::string_view> Photo::text(TextField field) const {
  if (!(present_ & (1u << field))) return std::nullopt;
  size_t start = field == 0 ? 0 : ends_[field - 1];
  return std::string_view(text_.data() + start, ends_[field] - start);
}

void Photo::setText(TextField field, std::optional<std::string_view> value) {
  size_t start = field == 0 ? 0 : ends_[field - 1];
  size_t oldLength = ends_[field] - start;
  std::string copy;  // the value may be a view into text_ itself
  const std::less<const char*> before;
  if (value && !before(value->data(), text_.data()) && before(value->data(), text_.data() + text_.size())) {
    copy.assign(*value);
    value = copy;
  }
  size_t newLength = value ? value->size() : 0;
  text_.replace(start, oldLength, value ? value->data() : "", newLength);
  for (int i = field; i < kTextFieldCount; ++i) ends_[i] = ends_[i] - oldLength + newLength;
  if (value) present_ |= static_cast<uint8_t>(1u << field);
  else present_ &= static_cast<uint8_t>(~(1u << field));
}

void Photo::setIPhotoKey(std::optional<std::string_view> key) {
  setText(kIPhotoKey, key);
  iPhotoKeyNumber_ = key ? keyNumber(*key) : 0;
}

void Photo::setPath(TextField field, std::optional<std::string_view> value) {
  std::optional<std::string_view> old = text(field);
  const bool replaced = old && old != value;
  setText(field, value);
  if (replaced) {
    setText(kOriginalSHA1, std::nullopt);
    setText(kModifiedSHA1, std::nullopt);
  }
}

void Photo::setString(std::string_view value, std::string_view key) {
  std::optional<std::string_view> v = nonEmpty(value);
  if (key == "ImagePath") setPath(kImagePath, v);
  else if (key == "OriginalPath") setPath(kOriginalPath, v);
  else if (key == "ThumbPath") setText(kThumbPath, v);
  else if (key == "Caption") setText(kCaption, v);
  else if (key == "ImageType") setText(kImageType, v);
}

void Photo::setReal(double value, std::string_view key) {
  if (key == "Aspect Ratio") aspectRatio_ = value;
  else if (key == "DateAsTimerInterval") dateTaken_ = value;
}

void Photo::setFromPlist(const loomkit::DictNode& dict) {
  for (const char* key : {"ImagePath", "OriginalPath", "ThumbPath", "Caption", "ImageType"}) {
    if (const loomkit::StringNode* node = dict.stringNodeForKey(key)) setString(node->stringValue().value_or(""), key);
  }
  for (const char* key : {"Aspect Ratio", "DateAsTimerInterval"}) {
    if (const loomkit::RealNode* real = dict.realNodeForKey(key)) setReal(real->doubleValue(), key);
    else if (const loomkit::IntegerNode* integer = dict.integerNodeForKey(key))
      setReal(static_cast<double>(integer->longlongValue()), key);
  }
  if (const loomkit::IntegerNode* roll = dict.integerNodeForKey("Roll")) {
    rollId_ = static_cast<uint64_t>(roll->longlongValue());
  }
}

void Photo::clearModifiedState() {
  setText(kModifiedSHA1, std::nullopt);
  modifiedFileSize_ = 0;
  modifiedMtimeSec_ = 0;
  modifiedMtimeNsec_ = 0;
}

std::optional<Photo::FileStamp> Photo::stampOfFile(const char* path) {
  struct stat st;
  if (::stat(path, &st) != 0) return std::nullopt;
  return FileStamp{static_cast<uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

bool Photo::updateSHA1s(const FileStamps& stamps, Error* error) {
  auto unchanged = [](const std::optional<FileStamp>& stamp, uint64_t size, int64_t sec, int64_t nsec) {
    return stamp && stamp->size == size && stamp->mtimeSec == sec && stamp->mtimeNsec == nsec;
  };
  auto notRehashing = [](const char* which, std::string_view path) {
    LOG_TRACE("NOT re-hashing %s %.*s", which, static_cast<int>(path.size()), path.data());
  };
  std::optional<std::string_view> original = originalPath();
  if (original && originalSHA1() && originalFileSize_ != 0 &&
      unchanged(stamps.original, originalFileSize_, originalMtimeSec_, originalMtimeNsec_)) {
    std::optional<std::string_view> modified = modifiedPath();
    if (!modified) {
      notRehashing("original", *original);
      clearModifiedState();
      return true;
    }
    if (modifiedSHA1() && unchanged(stamps.modified, modifiedFileSize_, modifiedMtimeSec_, modifiedMtimeNsec_)) {
      notRehashing("original", *original);
      notRehashing("modified", *modified);
      return true;
    }
  }
  return updateSHA1s(error);
}

bool Photo::updateSHA1s(Error* error) {
  std::optional<std::string_view> originalView = originalPath();
  if (!originalView) {
    return loomkit::setError(error, kPhotoErrorDomain, -1,
                             strprintf("missing originalPath for photo %s", description().c_str()));
  }
  const std::string original(*originalView);
  struct stat st;
  if (!statFile(original, st, error)) return false;
  if (st.st_size == 0) {
    return loomkit::setError(error, kPhotoErrorDomain, -1, strprintf("%s is an empty file", original.c_str()));
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (!originalSHA1() || size != originalFileSize_ || st.st_mtim.tv_sec != originalMtimeSec_ ||
      st.st_mtim.tv_nsec != originalMtimeNsec_) {
    LOG_DEBUG("re-hashing original %s", original.c_str());
    std::optional<std::string> digest = loomkit::SHA1Hash::hashPhoto(original, error);
    setText(kOriginalSHA1, digest);
    if (!digest) return false;
    originalFileSize_ = size;
    originalMtimeSec_ = st.st_mtim.tv_sec;
    originalMtimeNsec_ = st.st_mtim.tv_nsec;
  } else {
    LOG_TRACE("NOT re-hashing original %s", original.c_str());
  }

  std::optional<std::string_view> modifiedView = modifiedPath();
  if (!modifiedView) {
    clearModifiedState();
    return true;
  }
  const std::string modified(*modifiedView);
  if (!statFile(modified, st, error)) return false;
  const uint64_t modifiedSize = static_cast<uint64_t>(st.st_size);
  if (modifiedSHA1() && modifiedSize == modifiedFileSize_ && st.st_mtim.tv_sec == modifiedMtimeSec_ &&
      st.st_mtim.tv_nsec == modifiedMtimeNsec_) {
    LOG_TRACE("NOT re-hashing modified %s", modified.c_str());
    return true;
  }
  LOG_DEBUG("re-hashing modified %s", modified.c_str());
  std::optional<std::string> digest = loomkit::SHA1Hash::hashPhoto(modified, error);
  setText(kModifiedSHA1, digest);
  if (!digest) return false;
  modifiedFileSize_ = modifiedSize;
  modifiedMtimeSec_ = st.st_mtim.tv_sec;
  modifiedMtimeNsec_ = st.st_mtim.tv_nsec;
  return true;
}

bool Photo::applyOriginalMTimeToFile(const std::string& path, Error* error) const {
  struct timeval times[2];
  times[0].tv_sec = static_cast<time_t>(originalMtimeSec_);
  times[0].tv_usec = static_cast<suseconds_t>(originalMtimeNsec_ / 1000);
  times[1] = times[0];
  if (::utimes(path.c_str(), times) == 0) return true;
  int e = errno;
  return loomkit::setUnixError(error, e,
                               strprintf("utimes(%s): %s", path.c_str(), loomkit::systemErrorText(e).c_str()));
}

std::optional<std::string_view> Photo::originalPath() const {
  if (auto value = originalPathValue()) return value;
  return imagePath();
}

std::optional<std::string_view> Photo::modifiedPath() const {
  if (originalPathValue()) return imagePath();
  return std::nullopt;
}

std::optional<std::string_view> Photo::originalFileName() const {
  std::optional<std::string_view> path = originalPath();
  if (!path) return std::nullopt;
  std::string_view p = *path;
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  size_t slash = p.rfind('/');
  return slash == std::string_view::npos || p.size() == 1 ? p : p.substr(slash + 1);
}

bool Photo::isEqualToPhoto(const Photo& other) const {
  return originalSHA1() == other.originalSHA1() && modifiedSHA1() == other.modifiedSHA1() &&
         presentAndEqual(iPhotoKey(), other.iPhotoKey()) && presentAndEqual(thumbPath(), other.thumbPath()) &&
         presentAndEqual(originalPath(), other.originalPath()) && modifiedPath() == other.modifiedPath() &&
         presentAndEqual(caption(), other.caption()) && presentAndEqual(imageType(), other.imageType()) &&
         dateTaken_ == other.dateTaken_ && rollId_ == other.rollId_;
}

size_t Photo::hash() const { return std::hash<std::string_view>()(originalSHA1().value_or(std::string_view())); }

int Photo::compareByIPhotoKey(const Photo& other) const {
  if (iPhotoKeyNumber_ < other.iPhotoKeyNumber_) return -1;
  return iPhotoKeyNumber_ > other.iPhotoKeyNumber_ ? 1 : 0;
}

bool Photo::writeToStream(loomkit::BufferedOutputStream& to, Error* error) const {
  using loomkit::DoubleIO;
  using loomkit::IntegerIO;
  using loomkit::StringIO;
  return StringIO::write(originalSHA1(), to, error) && StringIO::write(modifiedSHA1(), to, error) &&
         StringIO::write(iPhotoKey(), to, error) && StringIO::write(imagePath(), to, error) &&
         StringIO::write(originalPathValue(), to, error) && StringIO::write(thumbPath(), to, error) &&
         DoubleIO::write(aspectRatio_, to, error) && StringIO::write(caption(), to, error) &&
         StringIO::write(imageType(), to, error) && IntegerIO::writeUInt64(originalFileSize_, to, error) &&
         IntegerIO::writeInt64(originalMtimeSec_, to, error) && IntegerIO::writeInt64(originalMtimeNsec_, to, error) &&
         IntegerIO::writeUInt64(modifiedFileSize_, to, error) && IntegerIO::writeInt64(modifiedMtimeSec_, to, error) &&
         IntegerIO::writeInt64(modifiedMtimeNsec_, to, error) && DoubleIO::write(dateTaken_, to, error) &&
         IntegerIO::writeUInt64(rollId_, to, error);
}

std::optional<Photo> Photo::initFromStream(loomkit::BufferedInputStream& from, Error* error) {
  using loomkit::DoubleIO;
  using loomkit::IntegerIO;
  using loomkit::StringIO;
  // Read buffers kept per thread, so that loading a catalog reuses them from record to record
  // instead of allocating for every text field.
  thread_local std::optional<std::string> texts[kTextFieldCount];
  auto readText = [&](TextField field) { return StringIO::read(texts[field], from, error); };

  Photo photo;
  bool ok = readText(kOriginalSHA1) && readText(kModifiedSHA1) && readText(kIPhotoKey) && readText(kImagePath) &&
            readText(kOriginalPath) && readText(kThumbPath) && DoubleIO::read(photo.aspectRatio_, from, error) &&
            readText(kCaption) && readText(kImageType) && IntegerIO::readUInt64(photo.originalFileSize_, from, error) &&
            IntegerIO::readInt64(photo.originalMtimeSec_, from, error) &&
            IntegerIO::readInt64(photo.originalMtimeNsec_, from, error) &&
            IntegerIO::readUInt64(photo.modifiedFileSize_, from, error) &&
            IntegerIO::readInt64(photo.modifiedMtimeSec_, from, error) &&
            IntegerIO::readInt64(photo.modifiedMtimeNsec_, from, error) &&
            DoubleIO::read(photo.dateTaken_, from, error) && IntegerIO::readUInt64(photo.rollId_, from, error);
  if (!ok) return std::nullopt;

  size_t total = 0;
  for (const auto& t : texts) total += t ? t->size() : 0;
  photo.text_.reserve(total);
  for (int i = 0; i < kTextFieldCount; ++i) {
    if (texts[i]) {
      photo.text_.append(*texts[i]);
      photo.present_ |= static_cast<uint8_t>(1u << i);
    }
    photo.ends_[i] = photo.text_.size();
  }
  photo.iPhotoKeyNumber_ = texts[kIPhotoKey] ? keyNumber(*texts[kIPhotoKey]) : 0;
  return photo;
}

std::string Photo::description() const {
  std::string key, original, modified, originalDigest, modifiedDigest;
  return strprintf("<Photo: key=%s originalPath=%s modifiedPath=%s originalSHA1=%s modifiedSHA1=%s>",
                   orNull(iPhotoKey(), key), orNull(originalPath(), original), orNull(modifiedPath(), modified),
                   orNull(originalSHA1(), originalDigest), orNull(modifiedSHA1(), modifiedDigest));
}

}  // namespace fotello
