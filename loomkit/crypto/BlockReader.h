// Reads a file or an input stream front to back for the digest operations, through one large
// block, handing out small exact reads and feeding runs of bytes straight from the block into a
// digest.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "loomkit/crypto/Digest.h"
#include "loomkit/io/InputStream.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Used by one thread. Each thread keeps one block for reuse, so hashing many files allocates
// nothing per file; a reader made while another one of the same thread is alive gets a block of
// its own. A reader never takes more than its limit from its source.
class BlockReader {
 public:
  // Bytes asked of a file per system read.
  static constexpr size_t kBlockSize = 1 << 20;
  // Bytes asked of an input stream per read, the block size of the stream layer.
  static constexpr size_t kStreamChunkSize = 8192;

  // A reader of at most limit bytes of the file at path. The file is opened on the first read,
  // read-only, without following a symbolic link in the last component and without waiting for a
  // writer of a FIFO. Open failures: the system's text ("%s"); read failures: "read(%@): %s"; both
  // in UnixErrorDomain.
  BlockReader(const std::string& path, uint64_t limit);
  // A reader of at most limit bytes of stream, which must outlive the reader; the stream's errors
  // are passed up unchanged.
  BlockReader(InputStream& stream, uint64_t limit);
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // Reads exactly length bytes into out. An end first fails with "BufferedInputStreamErrorDomain"
  // -4 "EOF on %@ after %lu of %lu bytes received".
  bool readExactly(void* out, size_t length, Error* error = nullptr);
  // Reads and drops exactly length bytes; an end fails as in readExactly.
  bool skip(uint64_t length, Error* error = nullptr);
  // Feeds the next length bytes (fewer when the source ends first) into the digest and returns
  // their count, or -1 on a read failure.
  int64_t feed(Digest& digest, uint64_t length, Error* error = nullptr);

  // The source's text form, for error descriptions: "<BlockReader: fd=%d path=%@>" for a file.
  std::string description() const;

 private:
  // Refills the empty block; returns the count read, 0 at the end, -1 on failure.
  int64_t fill(Error* error);
  // Moves past exactly length bytes, copying them to out unless it is nullptr.
  bool take(uint8_t* out, uint64_t length, Error* error);
  int64_t readFile(uint8_t* into, size_t length, Error* error);

  InputStream* stream_ = nullptr;  // the source, or nullptr for the file at path_
  std::string path_;
  int fd_ = -1;
  uint64_t limit_;
  uint64_t received_ = 0;  // bytes taken from the source so far
  uint8_t* block_;
  std::unique_ptr<uint8_t[]> ownBlock_;  // set when the thread's block was in use
  size_t begin_ = 0;                     // unread bytes of the block: [begin_, end_)
  size_t end_ = 0;
};

}  // namespace loomkit
