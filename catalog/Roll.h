// An import event of the photo library: its date, cover photo and photo count.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {
class DictNode;
}

namespace fotello {

// A value, shared read-only inside a catalog once built. Rolls have no value equality: the
// catalog compares a roll only with itself.
class Roll {
 public:
  // Seconds from 1970-01-01 to 2001-01-01 00:00:00 UTC, the reference date of the index.
  static constexpr double kReferenceDateSince1970 = 978307200.0;

  Roll() = default;
  // A roll's dictionary of the whole-document index reader: "RollID", "RollName",
  // "RollDateAsTimerInterval", "KeyPhotoKey", "PhotoCount". A missing number reads as 0, a
  // missing date as 0 seconds, a missing or empty name as absent. Numbers may be integers or
  // numeric strings.
  explicit Roll(const loomkit::DictNode& dict);

  // Id Int32, name String, date Date, cover key Int32, photo count Int32; stops at the first
  // failed value.
  bool writeToStream(loomkit::BufferedOutputStream& to, loomkit::Error* error = nullptr) const;
  // Reads one record; nothing when any value fails.
  static std::optional<Roll> initFromStream(loomkit::BufferedInputStream& from, loomkit::Error* error = nullptr);

  int32_t iPhotoId() const { return iPhotoId_; }
  const std::optional<std::string>& name() const { return name_; }
  // Seconds since 2001-01-01 00:00:00 UTC, or absent.
  const std::optional<double>& date() const { return date_; }
  int32_t keyIPhotoId() const { return keyIPhotoId_; }
  int32_t photoCount() const { return photoCount_; }

  // "<Roll: id=%d name=%@ %d photos>".
  std::string description() const;

 private:
  int32_t iPhotoId_ = 0;
  std::optional<std::string> name_;
  std::optional<double> date_;
  int32_t keyIPhotoId_ = 0;
  int32_t photoCount_ = 0;
};

}  // namespace fotello
