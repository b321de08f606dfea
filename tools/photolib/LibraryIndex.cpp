#include "tools/photolib/LibraryIndex.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <charconv>
#include <ctime>

#include "loomkit/io/FileSystem.h"
#include "loomkit/io/Streams.h"
#include "loomkit/plist/RealNode.h"
#include "loomkit/plist/XMLPListWriter.h"
#include "loomkit/plist/XMLPlistParser.h"
#include "loomkit/shared/Format.h"

namespace fotello {

namespace {

using Key = loomkit::XMLPlistParserDelegate::Key;

int64_t keyNumber(std::string_view key) { return loomkit::XMLPlistParser::integerValue(key); }

bool is(Key key, std::string_view name) { return key && *key == name; }

std::optional<std::string> nonEmpty(std::string_view value) {
  return value.empty() ? std::nullopt : std::optional<std::string>(value);
}

// The index text, handed to the output stream in 64 KiB pieces; after the first failed write
// everything else is dropped and the failure stands.
class IndexText {
 public:
  IndexText(loomkit::OutputStream& out, loomkit::Error* error) : out_(out), error_(error) { text_.reserve(kPiece); }

  void raw(std::string_view text) {
    text_ += text;
    if (text_.size() >= kPiece) flush();
  }
  void line(int depth, std::string_view markup) {
    text_.append(static_cast<size_t>(depth), '\t');
    text_ += markup;
    raw("\n");
  }
  void element(int depth, std::string_view name, std::string_view text) {
    text_.append(static_cast<size_t>(depth), '\t');
    text_ += '<';
    text_ += name;
    text_ += '>';
    text_ += loomkit::XMLPListWriter::escapedText(text);
    text_ += "</";
    text_ += name;
    raw(">\n");
  }
  void key(int depth, std::string_view key) { element(depth, "key", key); }
  void string(int depth, std::string_view key, std::string_view value) {
    this->key(depth, key);
    element(depth, "string", value);
  }
  void integer(int depth, std::string_view key, int64_t value) {
    this->key(depth, key);
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    element(depth, "integer", std::string_view(digits, static_cast<size_t>(end - digits)));
  }
  void real(int depth, std::string_view key, double value) {
    this->key(depth, key);
    element(depth, "real", loomkit::RealNode::textForValue(value));
  }
  void boolean(int depth, std::string_view key, bool value) {
    this->key(depth, key);
    line(depth, value ? "<true/>" : "<false/>");
  }
  void keyList(int depth, const std::vector<std::string>& keys) {
    key(depth, "KeyList");
    if (keys.empty()) return line(depth, "<array/>");
    line(depth, "<array>");
    for (const std::string& k : keys) element(depth + 1, "string", k);
    line(depth, "</array>");
  }

  bool flush() {
    if (ok_ && !text_.empty()) ok_ = loomkit::Streams::writeFully(out_, text_.data(), text_.size(), error_);
    text_.clear();
    return ok_;
  }

 private:
  static constexpr size_t kPiece = 64 * 1024;

  loomkit::OutputStream& out_;
  loomkit::Error* error_;
  std::string text_;
  bool ok_ = true;
};

std::string isoDate(double secondsSince2001) {
  auto t = static_cast<time_t>(secondsSince2001 + LibraryIndex::kReferenceDateSince1970);
  struct tm tm;
  ::gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// The library's fingerprint, a data value: the SHA-1 of its path in base64.
std::string fingerprint(const std::string& libraryPath) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  ::SHA1(reinterpret_cast<const unsigned char*>(libraryPath.data()), libraryPath.size(), digest);
  unsigned char text[4 * ((SHA_DIGEST_LENGTH + 2) / 3) + 1];
  int length = ::EVP_EncodeBlock(text, digest, SHA_DIGEST_LENGTH);
  return std::string(reinterpret_cast<char*>(text), static_cast<size_t>(length));
}

}  // namespace

// Rebuilds the index from the parser's calls. Depth counts open containers below the root
// dictionary: 1 for the three root collections, 2 for their entries.
class LibraryIndex::Reader final : public loomkit::XMLPlistParserDelegate {
 public:
  explicit Reader(LibraryIndex& index) : index_(index) {}

  const std::optional<std::string>& failure() const { return failure_; }

  void didStartDict(loomkit::XMLPlistParser&, Key key) override {
    ++depth_;
    if (depth_ == 1 && is(key, "Master Image List")) section_ = kPhotos;
    else if (depth_ == 2 && section_ == kPhotos && key) {
      photo_.emplace();
      photo_->key = *key;
    }
  }
  void didEndDict(loomkit::XMLPlistParser&, Key) override {
    if (depth_ == 2 && photo_) index_.adoptPhoto(std::move(*photo_));
    photo_.reset();
    endContainer();
  }
  void didStartArray(loomkit::XMLPlistParser&, Key key) override {
    ++depth_;
    if (depth_ == 1 && is(key, "List of Albums")) section_ = kAlbums;
    if (depth_ == 1 && is(key, "List of Rolls")) section_ = kRolls;
  }
  void didEndArray(loomkit::XMLPlistParser&, Key) override { endContainer(); }
  void didStartDictInArray(loomkit::XMLPlistParser&, Key) override {
    ++depth_;
    if (depth_ == 2 && section_ == kAlbums) album_.emplace();
    if (depth_ == 2 && section_ == kRolls) roll_.emplace();
  }
  void didEndDictInArray(loomkit::XMLPlistParser&, Key) override {
    if (depth_ == 2 && album_) index_.adoptAlbum(std::move(*album_));
    if (depth_ == 2 && roll_) index_.adoptRoll(std::move(*roll_));
    album_.reset();
    roll_.reset();
    endContainer();
  }
  void didStartArrayInArray(loomkit::XMLPlistParser&, Key) override { ++depth_; }
  void didEndArrayInArray(loomkit::XMLPlistParser&, Key) override { endContainer(); }

  void foundString(loomkit::XMLPlistParser&, std::string_view value, Key key) override {
    if (depth_ != 2 || !key) return;
    if (photo_) {
      if (*key == "ImagePath") photo_->imagePath = value;
      else if (*key == "OriginalPath") photo_->originalPath = nonEmpty(value);
      else if (*key == "ThumbPath") photo_->thumbPath = nonEmpty(value);
      else if (*key == "Caption") photo_->caption = nonEmpty(value);
      else if (*key == "ImageType") photo_->imageType = value;
      else if (*key == "MediaType") photo_->mediaType = value;
    } else if (album_ && *key == "AlbumName") {
      album_->name = value;
    } else if (roll_ && *key == "RollName") {
      roll_->name = value;
    }
  }
  void foundInteger(loomkit::XMLPlistParser&, int64_t value, Key key) override {
    if (depth_ != 2) return;
    if (photo_ && is(key, "Roll")) photo_->roll = value;
    else if (album_ && is(key, "AlbumId")) album_->id = value;
    else if (roll_ && is(key, "RollID")) roll_->id = value;
  }
  void foundReal(loomkit::XMLPlistParser&, double value, Key key) override {
    if (depth_ != 2) return;
    if (photo_ && is(key, "Aspect Ratio")) photo_->aspectRatio = value;
    else if (photo_ && is(key, "DateAsTimerInterval")) photo_->date = value;
    else if (photo_ && is(key, "ModDateAsTimerInterval")) photo_->modDate = value;
    else if (roll_ && is(key, "RollDateAsTimerInterval")) roll_->date = value;
  }
  void foundBoolean(loomkit::XMLPlistParser&, bool value, Key key) override {
    if (depth_ == 2 && album_ && is(key, "Master")) album_->master = value;
  }
  void foundStringInArray(loomkit::XMLPlistParser&, std::string_view value, Key key) override {
    if (depth_ != 3 || !is(key, "KeyList")) return;
    if (album_) album_->keys.emplace_back(value);
    if (roll_) roll_->keys.emplace_back(value);
  }
  void parseErrorOccurred(loomkit::XMLPlistParser& parser, const loomkit::Error& error, int64_t line,
                          int64_t column) override {
    failure_ = loomkit::strprintf("cannot read %s at line %lld column %lld: %s", parser.path().c_str(),
                                  static_cast<long long>(line), static_cast<long long>(column),
                                  error.description().c_str());
  }

 private:
  enum Section { kNone, kPhotos, kAlbums, kRolls };

  void endContainer() {
    if (depth_ == 1) section_ = kNone;
    if (depth_ > 0) --depth_;
  }

  LibraryIndex& index_;
  int depth_ = 0;
  Section section_ = kNone;
  std::optional<Photo> photo_;
  std::optional<Album> album_;
  std::optional<Roll> roll_;
  std::optional<std::string> failure_;
};

LibraryIndex::LibraryIndex(std::string libraryPath) : libraryPath_(std::move(libraryPath)) { addMasterAlbum(); }

double LibraryIndex::now() { return static_cast<double>(std::time(nullptr)) - kReferenceDateSince1970; }

std::string LibraryIndex::indexPathForLibrary(const std::string& libraryPath) {
  return libraryPath + "/AlbumData.xml";
}

void LibraryIndex::reset() {
  photos_.clear();
  photoIndexByKey_.clear();
  rolls_.clear();
  albums_.clear();
  lastPhotoKey_ = lastAlbumId_ = lastRollId_ = 0;
}

void LibraryIndex::addMasterAlbum() {
  Album master;
  master.id = ++lastAlbumId_;
  master.name = "Photos";
  master.master = true;
  albums_.insert(albums_.begin(), std::move(master));
}

bool LibraryIndex::load(loomkit::Error* error) {
  reset();
  Reader reader(*this);
  loomkit::XMLPlistParser parser(indexPathForLibrary(libraryPath_));
  parser.setDelegate(&reader);
  if (!parser.parse()) {
    return loomkit::setError(error, kPhotolibErrorDomain, -1, reader.failure().value_or("cannot read index"));
  }
  if (std::none_of(albums_.begin(), albums_.end(), [](const Album& a) { return a.master; })) addMasterAlbum();
  return true;
}

void LibraryIndex::adoptPhoto(Photo photo) {
  if (photo.imagePath.empty() || photoIndexByKey_.count(photo.key)) return;
  lastPhotoKey_ = std::max(lastPhotoKey_, keyNumber(photo.key));
  photoIndexByKey_.emplace(photo.key, photos_.size());
  photos_.push_back(std::move(photo));
}

void LibraryIndex::adoptAlbum(Album album) {
  lastAlbumId_ = std::max(lastAlbumId_, album.id);
  if (album.master) album.keys.clear();
  albums_.push_back(std::move(album));
}

void LibraryIndex::adoptRoll(Roll roll) {
  lastRollId_ = std::max(lastRollId_, roll.id);
  rolls_.push_back(std::move(roll));
}

bool LibraryIndex::save(loomkit::Error* error) const {
  const std::string path = indexPathForLibrary(libraryPath_);
  return loomkit::FileSystem::replaceFileAtomically(
      path, [this](loomkit::OutputStream& out, loomkit::Error* e) { return write(out, e); }, nullptr, error);
}

bool LibraryIndex::write(loomkit::OutputStream& out, loomkit::Error* error) const {
  IndexText text(out, error);
  text.raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n");
  text.string(1, "Application Version", kApplicationVersion);
  text.string(1, "Archive Path", libraryPath_);
  text.key(1, "Last Saved");
  text.element(1, "date", isoDate(now()));
  text.key(1, "Library Fingerprint");
  text.element(1, "data", fingerprint(libraryPath_));
  text.integer(1, "Major Version", 2);
  text.integer(1, "Minor Version", 0);

  text.key(1, "List of Albums");
  text.line(1, "<array>");
  std::vector<std::string> allKeys;
  for (const Album& album : albums_) {
    if (album.master && allKeys.empty()) {
      for (const Photo& photo : photos_) allKeys.push_back(photo.key);
    }
    const std::vector<std::string>& keys = album.master ? allKeys : album.keys;
    text.line(2, "<dict>");
    text.integer(3, "AlbumId", album.id);
    text.string(3, "AlbumName", album.name);
    if (album.master) text.boolean(3, "Master", true);
    text.integer(3, "PhotoCount", static_cast<int64_t>(keys.size()));
    text.keyList(3, keys);
    text.line(2, "</dict>");
  }
  text.line(1, "</array>");

  text.key(1, "List of Rolls");
  text.line(1, "<array>");
  for (const Roll& roll : rolls_) {
    text.line(2, "<dict>");
    text.integer(3, "RollID", roll.id);
    text.string(3, "RollName", roll.name);
    text.real(3, "RollDateAsTimerInterval", roll.date);
    text.integer(3, "KeyPhotoKey", roll.keys.empty() ? 0 : keyNumber(roll.keys.front()));
    text.integer(3, "PhotoCount", static_cast<int64_t>(roll.keys.size()));
    text.keyList(3, roll.keys);
    text.line(2, "</dict>");
  }
  text.line(1, "</array>");

  text.key(1, "Master Image List");
  text.line(1, "<dict>");
  for (const Photo& photo : photos_) {
    text.key(2, photo.key);
    text.line(2, "<dict>");
    if (photo.caption) text.string(3, "Caption", *photo.caption);
    text.string(3, "MediaType", photo.mediaType);
    text.string(3, "ImageType", photo.imageType);
    text.string(3, "ImagePath", photo.imagePath);
    if (photo.originalPath) text.string(3, "OriginalPath", *photo.originalPath);
    if (photo.thumbPath) text.string(3, "ThumbPath", *photo.thumbPath);
    text.integer(3, "Roll", photo.roll);
    text.real(3, "DateAsTimerInterval", photo.date);
    text.real(3, "ModDateAsTimerInterval", photo.modDate);
    text.real(3, "Aspect Ratio", photo.aspectRatio);
    text.line(2, "</dict>");
  }
  text.line(1, "</dict>");
  text.raw("</dict>\n</plist>\n");
  return text.flush();
}

LibraryIndex::Photo* LibraryIndex::photo(std::string_view key) {
  auto found = photoIndexByKey_.find(std::string(key));
  return found == photoIndexByKey_.end() ? nullptr : &photos_[found->second];
}

LibraryIndex::Album* LibraryIndex::userAlbum(std::string_view name) {
  for (Album& album : albums_) {
    if (!album.master && album.name == name) return &album;
  }
  return nullptr;
}

LibraryIndex::Roll* LibraryIndex::roll(int64_t id) {
  for (Roll& roll : rolls_) {
    if (roll.id == id) return &roll;
  }
  return nullptr;
}

std::string LibraryIndex::addPhoto(Photo photo) {
  photo.key = std::to_string(++lastPhotoKey_);
  if (Roll* r = roll(photo.roll)) r->keys.push_back(photo.key);
  photoIndexByKey_.emplace(photo.key, photos_.size());
  photos_.push_back(std::move(photo));
  return photos_.back().key;
}

int64_t LibraryIndex::addRoll(std::string name, double date) {
  rolls_.push_back(Roll{.id = ++lastRollId_, .name = std::move(name), .date = date, .keys = {}});
  return rolls_.back().id;
}

LibraryIndex::Album& LibraryIndex::addUserAlbum(std::string name) {
  albums_.push_back(Album{.id = ++lastAlbumId_, .name = std::move(name), .master = false, .keys = {}});
  return albums_.back();
}

std::unordered_set<std::string> LibraryIndex::knownPaths() const {
  std::unordered_set<std::string> paths;
  for (const Photo& photo : photos_) {
    paths.insert(photo.imagePath);
    if (photo.originalPath) paths.insert(*photo.originalPath);
    if (photo.thumbPath) paths.insert(*photo.thumbPath);
  }
  return paths;
}

}  // namespace fotello
