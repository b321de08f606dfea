// Small builders shared by the catalog tests: photos with given digests, records in memory.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "catalog/Photo.h"
#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/BufferedOutputStream.h"
#include "loomkit/io/DataInputStream.h"
#include "loomkit/io/DataOutputStream.h"
#include "loomkit/io/IntegerIO.h"
#include "loomkit/io/StringIO.h"

namespace fotello::test {

// A 40-character digest text made of one repeated hexadecimal digit.
inline std::string digest(char c) { return std::string(40, c); }

// The photo's binary record, as written with the photo's field values and its digests replaced:
// the one way to give a test photo digests without hashing files.
inline loomkit::Bytes photoRecord(std::string_view key, std::optional<std::string_view> original,
                                  std::optional<std::string_view> modified,
                                  std::optional<std::string_view> imagePath,
                                  std::optional<std::string_view> originalPath = std::nullopt) {
  using loomkit::IntegerIO;
  using loomkit::StringIO;
  loomkit::Bytes b;
  StringIO::write(original, b);
  StringIO::write(modified, b);
  StringIO::write(key, b);
  StringIO::write(imagePath, b);
  StringIO::write(originalPath, b);
  StringIO::write(std::string("/thumbs/") + std::string(key) + ".jpg", b);
  StringIO::write(std::string_view("1.500000"), b);  // aspect ratio
  StringIO::write(std::string_view("caption"), b);
  StringIO::write(std::string_view("JPEG"), b);
  for (int i = 0; i < 6; ++i) IntegerIO::writeUInt64(0, b);
  StringIO::write(std::string_view("100.000000"), b);  // date taken
  IntegerIO::writeUInt64(7, b);                        // roll
  return b;
}

inline std::unique_ptr<loomkit::BufferedInputStream> over(loomkit::Bytes bytes) {
  return std::make_unique<loomkit::BufferedInputStream>(std::make_unique<loomkit::DataInputStream>(std::move(bytes)));
}

inline Photo photoWith(std::string_view key, std::optional<std::string_view> original,
                       std::optional<std::string_view> modified,
                       std::optional<std::string_view> imagePath = "/lib/a.jpg",
                       std::optional<std::string_view> originalPath = std::nullopt) {
  auto in = over(photoRecord(key, original, modified, imagePath, originalPath));
  return *Photo::initFromStream(*in);
}

// Everything a writer produces, through a buffered stream into memory.
template <class Writer>
loomkit::Bytes written(const Writer& write) {
  auto data = std::make_shared<loomkit::Bytes>();
  loomkit::BufferedOutputStream out(std::make_unique<loomkit::DataOutputStream>(data));
  if (!write(out) || !out.flush()) return {};
  return *data;
}

}  // namespace fotello::test
