// The photo digest of arbitrary bytes, through a chunked memory stream and through a file, checked
// against a direct in-memory walk of the same bytes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "loomkit/crypto/SHA1Hash.h"
#include "loomkit/shared/Log.h"

namespace {

using loomkit::SHA1Hash;

// Hands out the bytes in chunks of a fixed size, like a socket or a small buffered read.
class ChunkedStream : public loomkit::InputStream {
 public:
  ChunkedStream(const uint8_t* data, size_t size, size_t chunk) : data_(data), size_(size), chunk_(chunk) {}
  int64_t read(void* buffer, uint64_t capacity, loomkit::Error*) override {
    size_t n = std::min<uint64_t>({capacity, chunk_, size_ - pos_});
    std::copy_n(data_ + pos_, n, static_cast<uint8_t*>(buffer));
    pos_ += n;
    return static_cast<int64_t>(n);
  }
  std::string description() const override { return "<ChunkedStream>"; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t chunk_;
  size_t pos_ = 0;
};

// The digest the walk should give, or nothing where it should fail.
std::optional<std::string> expectedPhotoDigest(const uint8_t* d, size_t n) {
  if (n < 5 || d[0] != 0xFF || d[1] != 0xD8) return SHA1Hash::hashData(d, n);
  auto at = [d](size_t p) { return static_cast<unsigned>(d[p] << 8 | d[p + 1]); };
  size_t pos = 2;
  while (pos + 2 != n) {
    if (pos + 4 > n) return std::nullopt;
    unsigned marker = at(pos), length = at(pos + 2);
    if (marker == 0xFFDA) {
      if (n <= pos + 6) return std::nullopt;
      return SHA1Hash::hashData(d + pos + 4, n - pos - 6);
    }
    if (length <= 2) return std::nullopt;
    pos += 2 + length;
    if (pos + 2 > n) return std::nullopt;
  }
  return SHA1Hash::hashData(nullptr, 0);
}

std::string scratchPath;
int scratchFd = -1;

void removeScratch() { ::unlink(scratchPath.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  loomkit::Log::setLevel(loomkit::Log::kNone);
  // The scratch file is rewritten for every input: memory-backed /dev/shm keeps that fast.
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp ? tmp : ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  scratchPath = dir + "/JpegDigestFuzzer.XXXXXX";
  scratchFd = ::mkstemp(scratchPath.data());
  if (scratchFd < 0) std::abort();
  std::atexit(removeScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<std::string> expected = expectedPhotoDigest(data, size);

  size_t chunk = size ? 1 + data[size - 1] % 17 : 1;
  ChunkedStream stream(data, size, chunk);
  loomkit::Error error;
  std::optional<std::string> walked = SHA1Hash::hashPhotoStream(stream, size, &error);
  if (walked != expected) std::abort();
  if (!walked && error.empty()) std::abort();  // every failure says why
  if (walked && walked->size() != 40) std::abort();

  if (::ftruncate(scratchFd, 0) != 0 || ::pwrite(scratchFd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  std::optional<std::string> photo = SHA1Hash::hashPhoto(scratchPath);
  std::string plain = SHA1Hash::hashData(data, size);
  if (photo != (expected ? *expected : plain)) std::abort();
  if (SHA1Hash::hashFile(scratchPath) != plain) std::abort();
  return 0;
}
