// An input stream over a byte buffer in memory.
#pragma once

#include <memory>

#include "loomkit/io/InputStream.h"

namespace loomkit {

// Used by one thread at a time; the buffer itself is read-only and may be shared by many streams
// on many threads.
class DataInputStream final : public InputStream {
 public:
  // Reads the shared buffer from its start; the stream keeps the buffer alive.
  explicit DataInputStream(std::shared_ptr<const Bytes> data);
  // Reads its own copy of the buffer.
  explicit DataInputStream(Bytes data);
  // Reads its own copy of data[offset, offset + length), clipped to the buffer.
  DataInputStream(const Bytes& data, uint64_t offset, uint64_t length);

  // Copies min(capacity, remaining) bytes and advances; 0 once everything was read. Never fails.
  int64_t read(void* buffer, uint64_t capacity, Error* error = nullptr) override;
  // The bytes from the read position to the end (empty when nothing remains); moves to the end.
  std::optional<Bytes> slurp(Error* error = nullptr) override;
  std::string description() const override;

  uint64_t position() const { return pos_; }

 private:
  std::shared_ptr<const Bytes> data_;
  uint64_t pos_ = 0;
};

}  // namespace loomkit
