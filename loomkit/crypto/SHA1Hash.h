// The SHA-1 digests that identify photos: plain digests of bytes, files and streams, and the
// JPEG-aware photo digest that leaves out the metadata segments in front of the image data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "loomkit/crypto/Digest.h"
#include "loomkit/io/Bytes.h"
#include "loomkit/io/InputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

inline constexpr std::string_view kSHA1HashErrorDomain = "SHA1HashErrorDomain";

// Stateless; safe from any thread. Digest texts are 40 lower-case hexadecimal characters. Files
// are read front to back once, in 1 MiB blocks, through a block the calling thread reuses.
//
// The photo digest of a file of N bytes (16-bit values big-endian): files of fewer than 5 bytes,
// and files that do not start with FF D8, are digested whole. Otherwise the segments from offset
// 2 are walked (marker, length L, L - 2 bytes of content) up to the first start-of-scan marker
// FF DA; everything after its length field up to, not including, the last two bytes of the file
// is digested. A segment length of 2 or less, a file ending inside a segment, or a scan with no
// byte before the last two fails the walk. Last two bytes other than FF D9 are logged as a
// warning "unexpected end marker in JPEG: 0x%04x" and the digest stands.
class SHA1Hash {
 public:
  // "SHA1HashErrorDomain": every error it creates has code -1.
  static std::string_view errorDomain() { return kSHA1HashErrorDomain; }

  // The digest of the bytes; cannot fail.
  static std::string hashData(const void* bytes, size_t length);
  static std::string hashData(const Bytes& bytes) { return hashData(bytes.data(), bytes.size()); }

  // The plain digest of the file's first n bytes, n being its size from lstat (a final symbolic
  // link is neither followed nor opened). Failures: "lstat(%@): %s", the open or read failure of
  // the file (all UnixErrorDomain with errno). A file that shrinks meanwhile is digested as read.
  static std::optional<std::string> hashFile(const std::string& path, Error* error = nullptr);

  // The photo digest of the file (sized and opened as in hashFile). When the walk fails for any
  // reason, the plain digest of hashFile instead; its error is the only one reported.
  static std::optional<std::string> hashPhoto(const std::string& path, Error* error = nullptr);

  // The plain digest of everything the stream yields until its end; a failed read fails with the
  // stream's error.
  static std::optional<std::string> hashStream(InputStream& stream, Error* error = nullptr);

  // The photo digest of the next totalLength bytes of the stream; nothing after them is read. A
  // stream that ends early yields the plain digest of what it gave when the bytes are digested
  // whole, and fails inside the JPEG walk. Every failure of the walk is reported: an end inside a
  // segment ("BufferedInputStreamErrorDomain" -4), "%@: JPEG segment %04x length can't be fewer
  // than 3 bytes long", "%@: JPEG scan at %qu leaves no image data", "unexpected EOF reading image
  // data from %@", or the stream's read error.
  static std::optional<std::string> hashPhotoStream(InputStream& stream, uint64_t totalLength,
                                                    Error* error = nullptr);

  // Feeds exactly length bytes of the stream into sha1. Length 0 returns false without an error;
  // an end first fails with "unexpected EOF reading image data from %@" (the stream's text form).
  static bool updateSHA1(Digest& sha1, InputStream& stream, uint64_t length, Error* error = nullptr);
};

}  // namespace loomkit
