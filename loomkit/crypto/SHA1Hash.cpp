#include "loomkit/crypto/SHA1Hash.h"

#include <sys/stat.h>

#include <cerrno>

#include "loomkit/crypto/BlockReader.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

constexpr uint16_t kStartOfImage = 0xFFD8;
constexpr uint16_t kStartOfScan = 0xFFDA;
constexpr uint16_t kEndOfImage = 0xFFD9;

std::optional<uint64_t> sizeOfFile(const std::string& path, Error* error) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    int e = errno;
    setUnixError(error, e, strprintf("lstat(%s): %s", path.c_str(), systemErrorText(e).c_str()));
    return std::nullopt;
  }
  return static_cast<uint64_t>(st.st_size);
}

bool readBigEndian16(BlockReader& reader, uint16_t* value, Error* error) {
  uint8_t bytes[2];
  if (!reader.readExactly(bytes, 2, error)) return false;
  *value = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
  return true;
}

// Feeds exactly count bytes; count 0 fails without an error.
bool feedExactly(BlockReader& reader, Digest& digest, uint64_t count, Error* error) {
  if (count == 0) return false;
  int64_t fed = reader.feed(digest, count, error);
  if (fed < 0) return false;
  if (static_cast<uint64_t>(fed) < count) {
    return setError(error, kSHA1HashErrorDomain, -1,
                    strprintf("unexpected EOF reading image data from %s", reader.description().c_str()));
  }
  return true;
}

std::optional<std::string> finishUnlessFailed(Digest& digest, int64_t fed) {
  if (fed < 0) return std::nullopt;
  return digest.finishText();
}

std::optional<std::string> plainDigest(BlockReader& reader, Error* error) {
  Digest digest(Digest::sha1());
  return finishUnlessFailed(digest, reader.feed(digest, UINT64_MAX, error));
}

// Walks the segments of a JPEG of n bytes whose start marker has been read, and feeds its image
// data. Each segment moves pos forward by at least 5 and the reader stops at n, so the walk ends.
bool feedJpegImageData(BlockReader& reader, Digest& digest, uint64_t n, Error* error) {
  uint64_t pos = 2;  // where the current marker starts
  uint16_t marker;
  if (!readBigEndian16(reader, &marker, error)) return false;
  while (pos + 2 < n) {
    uint16_t length;
    if (!readBigEndian16(reader, &length, error)) return false;
    if (marker == kStartOfScan) {
      if (n <= pos + 6) {
        return setError(error, kSHA1HashErrorDomain, -1,
                        strprintf("%s: JPEG scan at %llu leaves no image data", reader.description().c_str(),
                                  static_cast<unsigned long long>(pos)));
      }
      if (!feedExactly(reader, digest, n - pos - 6, error)) return false;
      pos = n - 2;
    } else {
      if (length <= 2) {
        return setError(error, kSHA1HashErrorDomain, -1,
                        strprintf("%s: JPEG segment %04x length can't be fewer than 3 bytes long",
                                  reader.description().c_str(), marker));
      }
      if (!reader.skip(length - 2, error)) return false;
      pos += 2 + length;
    }
    if (!readBigEndian16(reader, &marker, error)) return false;
  }
  if (marker != kEndOfImage) LOG_WARN("unexpected end marker in JPEG: 0x%04x", marker);
  return true;
}

std::optional<std::string> photoDigest(BlockReader& reader, uint64_t n, Error* error) {
  Digest digest(Digest::sha1());
  if (n >= 5) {
    uint8_t start[2];
    if (!reader.readExactly(start, 2, error)) return std::nullopt;
    if ((start[0] << 8 | start[1]) == kStartOfImage) {
      if (!feedJpegImageData(reader, digest, n, error)) return std::nullopt;
      return digest.finishText();
    }
    digest.update(start, 2);
  }
  return finishUnlessFailed(digest, reader.feed(digest, UINT64_MAX, error));
}

}  // namespace

std::string SHA1Hash::hashData(const void* bytes, size_t length) {
  return Digest::textOf(Digest::sha1(), bytes, length);
}

std::optional<std::string> SHA1Hash::hashFile(const std::string& path, Error* error) {
  std::optional<uint64_t> size = sizeOfFile(path, error);
  if (!size) return std::nullopt;
  BlockReader reader(path, *size);
  return plainDigest(reader, error);
}

std::optional<std::string> SHA1Hash::hashPhoto(const std::string& path, Error* error) {
  std::optional<uint64_t> size = sizeOfFile(path, error);
  if (!size) return std::nullopt;
  {
    BlockReader reader(path, *size);
    if (std::optional<std::string> digest = photoDigest(reader, *size, nullptr)) return digest;
  }
  return hashFile(path, error);
}

std::optional<std::string> SHA1Hash::hashStream(InputStream& stream, Error* error) {
  BlockReader reader(stream, UINT64_MAX);
  return plainDigest(reader, error);
}

std::optional<std::string> SHA1Hash::hashPhotoStream(InputStream& stream, uint64_t totalLength, Error* error) {
  BlockReader reader(stream, totalLength);
  return photoDigest(reader, totalLength, error);
}

bool SHA1Hash::updateSHA1(Digest& sha1, InputStream& stream, uint64_t length, Error* error) {
  BlockReader reader(stream, length);
  return feedExactly(reader, sha1, length, error);
}

}  // namespace loomkit
