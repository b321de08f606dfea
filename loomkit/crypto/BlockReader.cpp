#include "loomkit/crypto/BlockReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "loomkit/shared/Format.h"

namespace loomkit {

namespace {

// The calling thread's reusable block and whether a reader is using it.
struct ThreadBlock {
  std::unique_ptr<uint8_t[]> block;
  bool busy = false;
};
thread_local ThreadBlock threadBlock;

uint8_t* leaseBlock(std::unique_ptr<uint8_t[]>& own) {
  if (threadBlock.busy) {
    own = std::make_unique_for_overwrite<uint8_t[]>(BlockReader::kBlockSize);
    return own.get();
  }
  if (!threadBlock.block) threadBlock.block = std::make_unique_for_overwrite<uint8_t[]>(BlockReader::kBlockSize);
  threadBlock.busy = true;
  return threadBlock.block.get();
}

}  // namespace

BlockReader::BlockReader(const std::string& path, uint64_t limit)
    : path_(path), limit_(limit), block_(leaseBlock(ownBlock_)) {}

BlockReader::BlockReader(InputStream& stream, uint64_t limit)
    : stream_(&stream), limit_(limit), block_(leaseBlock(ownBlock_)) {}

BlockReader::~BlockReader() {
  if (fd_ >= 0) ::close(fd_);
  if (!ownBlock_) threadBlock.busy = false;
}

std::string BlockReader::description() const {
  if (stream_) return stream_->description();
  return strprintf("<BlockReader: fd=%d path=%s>", fd_, path_.c_str());
}

int64_t BlockReader::readFile(uint8_t* into, size_t length, Error* error) {
  if (fd_ < 0) {
    fd_ = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      int e = errno;
      setUnixError(error, e, systemErrorText(e));
      return -1;
    }
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  for (;;) {
    ssize_t n = ::pread(fd_, into, length, static_cast<off_t>(received_));
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    int e = errno;
    setUnixError(error, e, strprintf("read(%s): %s", path_.c_str(), systemErrorText(e).c_str()));
    return -1;
  }
}

int64_t BlockReader::fill(Error* error) {
  uint64_t wanted = std::min<uint64_t>(limit_ - received_, stream_ ? kStreamChunkSize : kBlockSize);
  if (wanted == 0) return 0;
  int64_t n = stream_ ? stream_->read(block_, wanted, error) : readFile(block_, wanted, error);
  if (n > 0) {
    begin_ = 0;
    end_ = static_cast<size_t>(n);
    received_ += static_cast<uint64_t>(n);
  }
  return n;
}

bool BlockReader::take(uint8_t* out, uint64_t length, Error* error) {
  uint64_t done = 0;
  while (done < length) {
    if (begin_ == end_) {
      int64_t n = fill(error);
      if (n < 0) return false;
      if (n == 0) {
        return setError(error, "BufferedInputStreamErrorDomain", -4,
                        strprintf("EOF on %s after %llu of %llu bytes received", description().c_str(),
                                  static_cast<unsigned long long>(done), static_cast<unsigned long long>(length)));
      }
    }
    size_t count = static_cast<size_t>(std::min<uint64_t>(end_ - begin_, length - done));
    if (out) std::copy_n(block_ + begin_, count, out + done);
    begin_ += count;
    done += count;
  }
  return true;
}

bool BlockReader::readExactly(void* out, size_t length, Error* error) {
  return take(static_cast<uint8_t*>(out), length, error);
}

bool BlockReader::skip(uint64_t length, Error* error) { return take(nullptr, length, error); }

int64_t BlockReader::feed(Digest& digest, uint64_t length, Error* error) {
  uint64_t done = 0;
  while (done < length) {
    if (begin_ == end_) {
      int64_t n = fill(error);
      if (n < 0) return -1;
      if (n == 0) break;
    }
    size_t count = static_cast<size_t>(std::min<uint64_t>(end_ - begin_, length - done));
    digest.update(block_ + begin_, count);
    begin_ += count;
    done += count;
  }
  return static_cast<int64_t>(done);
}

}  // namespace loomkit
