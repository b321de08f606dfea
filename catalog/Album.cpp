#include "catalog/Album.h"

#include <functional>

#include "loomkit/io/BooleanIO.h"
#include "loomkit/io/IntegerIO.h"
#include "loomkit/io/StringIO.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Format.h"

namespace fotello {

using loomkit::Error;

void Album::setString(std::string_view value, std::string_view key) {
  if (key != "AlbumName") return;
  if (value.empty()) name_.reset();
  else name_ = std::string(value);
}

void Album::setInteger(int64_t value, std::string_view key) {
  if (key == "AlbumId") iPhotoId_ = static_cast<int32_t>(static_cast<uint32_t>(value));
}

void Album::setBoolean(bool value, std::string_view key) {
  if (key == "Master") isMaster_ = value;
}

void Album::addPhotoKey(std::string key) { photoKeys_.insert(std::move(key)); }

void Album::setFromPlist(const loomkit::DictNode& dict) {
  if (const loomkit::StringNode* name = dict.stringNodeForKey("AlbumName")) {
    setString(name->stringValue().value_or(""), "AlbumName");
  }
  if (const loomkit::IntegerNode* id = dict.integerNodeForKey("AlbumId")) setInteger(id->longlongValue(), "AlbumId");
  if (const loomkit::BooleanNode* master = dict.booleanNodeForKey("Master")) {
    setBoolean(master->booleanValue(), "Master");
  }
  if (const loomkit::ArrayNode* keys = dict.arrayNodeForKey("KeyList")) {
    for (size_t i = 0; i < keys->size(); ++i) {
      const loomkit::StringNode* key = keys->stringNodeAtIndex(i);
      if (key && key->stringValue()) addPhotoKey(*key->stringValue());
    }
  }
}

bool Album::isEqualToAlbum(const Album& other) const {
  return name_ && other.name_ && *name_ == *other.name_ && iPhotoId_ == other.iPhotoId_ &&
         isMaster_ == other.isMaster_ && photoKeys_ == other.photoKeys_;
}

size_t Album::hash() const {
  size_t h = std::hash<std::string>()(name_.value_or(""));
  h = h * 31 + static_cast<uint32_t>(iPhotoId_);
  h = h * 31 + (isMaster_ ? 1 : 0);
  for (const std::string& key : photoKeys_) h = h * 31 + std::hash<std::string>()(key);
  return h;
}

bool Album::writeToStream(loomkit::BufferedOutputStream& to, Error* error) const {
  using loomkit::IntegerIO;
  using loomkit::StringIO;
  if (!StringIO::write(name_, to, error) || !IntegerIO::writeInt32(iPhotoId_, to, error) ||
      !loomkit::BooleanIO::write(isMaster_, to, error) || !IntegerIO::writeUInt64(photoKeys_.size(), to, error)) {
    return false;
  }
  for (const std::string& key : photoKeys_) {
    if (!StringIO::write(key, to, error)) return false;
  }
  return true;
}

std::optional<Album> Album::initFromStream(loomkit::BufferedInputStream& from, Error* error) {
  using loomkit::IntegerIO;
  using loomkit::StringIO;
  Album album;
  uint64_t count = 0;
  if (!StringIO::read(album.name_, from, error) || !IntegerIO::readInt32(album.iPhotoId_, from, error) ||
      !loomkit::BooleanIO::read(album.isMaster_, from, error) || !IntegerIO::readUInt64(count, from, error)) {
    return std::nullopt;
  }
  std::optional<std::string> key;
  for (uint64_t i = 0; i < count; ++i) {
    if (!StringIO::read(key, from, error)) return std::nullopt;
    // Files hold the keys in ascending order, so each one goes in at the end in constant time.
    if (key) album.photoKeys_.emplace_hint(album.photoKeys_.end(), std::move(*key));
  }
  return album;
}

std::string Album::description() const {
  return loomkit::strprintf("<Album: id=%d name=%s %lu keys>", iPhotoId_, name_ ? name_->c_str() : "(null)",
                            static_cast<unsigned long>(photoKeys_.size()));
}

}  // namespace fotello
