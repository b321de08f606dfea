#include "catalog/Roll.h"

#include <cstdlib>

#include "loomkit/io/DateIO.h"
#include "loomkit/io/IntegerIO.h"
#include "loomkit/io/StringIO.h"
#include "loomkit/plist/DictNode.h"
#include "loomkit/shared/Format.h"

namespace fotello {

using loomkit::Error;

namespace {

// An integer or a numeric string under key as a 32-bit value; 0 when missing.
int32_t intForKey(const loomkit::DictNode& dict, const char* key) {
  if (const loomkit::IntegerNode* integer = dict.integerNodeForKey(key)) return integer->intValue();
  if (const loomkit::StringNode* text = dict.stringNodeForKey(key); text && text->stringValue()) {
    long long value = std::strtoll(text->stringValue()->c_str(), nullptr, 10);
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  return 0;
}

}  // namespace

Roll::Roll(const loomkit::DictNode& dict)
    : iPhotoId_(intForKey(dict, "RollID")),
      date_(0.0),
      keyIPhotoId_(intForKey(dict, "KeyPhotoKey")),
      photoCount_(intForKey(dict, "PhotoCount")) {
  if (const loomkit::StringNode* name = dict.stringNodeForKey("RollName"); name && name->stringValue() &&
                                                                            !name->stringValue()->empty()) {
    name_ = *name->stringValue();
  }
  if (const loomkit::RealNode* real = dict.realNodeForKey("RollDateAsTimerInterval")) date_ = real->doubleValue();
  else if (const loomkit::IntegerNode* integer = dict.integerNodeForKey("RollDateAsTimerInterval"))
    date_ = static_cast<double>(integer->longlongValue());
}

bool Roll::writeToStream(loomkit::BufferedOutputStream& to, Error* error) const {
  using loomkit::IntegerIO;
  std::optional<double> since1970;
  if (date_) since1970 = *date_ + kReferenceDateSince1970;
  return IntegerIO::writeInt32(iPhotoId_, to, error) && loomkit::StringIO::write(name_, to, error) &&
         loomkit::DateIO::write(since1970, to, error) && IntegerIO::writeInt32(keyIPhotoId_, to, error) &&
         IntegerIO::writeInt32(photoCount_, to, error);
}

std::optional<Roll> Roll::initFromStream(loomkit::BufferedInputStream& from, Error* error) {
  using loomkit::IntegerIO;
  Roll roll;
  std::optional<double> since1970;
  if (!IntegerIO::readInt32(roll.iPhotoId_, from, error) || !loomkit::StringIO::read(roll.name_, from, error) ||
      !loomkit::DateIO::read(since1970, from, error) || !IntegerIO::readInt32(roll.keyIPhotoId_, from, error) ||
      !IntegerIO::readInt32(roll.photoCount_, from, error)) {
    return std::nullopt;
  }
  if (since1970) roll.date_ = *since1970 - kReferenceDateSince1970;
  return roll;
}

std::string Roll::description() const {
  return loomkit::strprintf("<Roll: id=%d name=%s %d photos>", iPhotoId_, name_ ? name_->c_str() : "(null)",
                            photoCount_);
}

}  // namespace fotello
