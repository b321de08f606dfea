#include "catalog/SHA1Records.h"

#include <cstring>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/io/FileInputStreamFactory.h"
#include "loomkit/io/FileSystem.h"

namespace fotello {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool SHA1Records::encode(std::string_view sha1, Record& record) {
  if (sha1.size() != 2 * kDigestSize) return false;
  std::memset(record, 0, kRecordSize);
  for (size_t i = 0; i < kDigestSize; ++i) {
    int high = hexValue(sha1[2 * i]);
    int low = hexValue(sha1[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    record[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

std::string SHA1Records::decode(const uint8_t* record) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(2 * kDigestSize, '0');
  for (size_t i = 0; i < kDigestSize; ++i) {
    text[2 * i] = kDigits[record[i] >> 4];
    text[2 * i + 1] = kDigits[record[i] & 0xf];
  }
  return text;
}

bool SHA1Records::readFile(const std::string& path, const std::function<void(std::string sha1)>& each,
                           loomkit::Error* error) {
  if (!loomkit::FileSystem::exists(path)) return true;
  std::unique_ptr<loomkit::FileInputStreamFactory> factory = loomkit::FileInputStreamFactory::newWithPath(path, error);
  if (!factory) return false;
  loomkit::BufferedInputStream in(factory->newInputStream());
  Record record;
  loomkit::Error readError;
  while (in.readExactly(kRecordSize, record, &readError)) each(decode(record));
  if (readError.is(loomkit::BufferedInputStream::errorDomain(), loomkit::BufferedInputStream::kEndOfStreamCode)) {
    return true;  // the end of the file, possibly inside a partial last record
  }
  return loomkit::passError(error, readError);
}

}  // namespace fotello
