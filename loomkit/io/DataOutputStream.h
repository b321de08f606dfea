// An output stream that appends to a byte buffer in memory.
#pragma once

#include <memory>

#include "loomkit/io/Bytes.h"
#include "loomkit/io/OutputStream.h"

namespace loomkit {

// Used by one thread at a time, like the buffer it appends to.
class DataOutputStream final : public OutputStream {
 public:
  // Appends to the given buffer, which the creator keeps a reference to (a fresh one by default).
  explicit DataOutputStream(std::shared_ptr<Bytes> data = std::make_shared<Bytes>());

  // Appends all length bytes and returns length. Never fails.
  int64_t write(const void* bytes, uint64_t length, Error* error = nullptr) override;
  uint64_t bytesWritten() const override { return bytesWritten_; }
  std::string description() const override;

  // The buffer written to.
  const std::shared_ptr<Bytes>& mutableData() const { return data_; }

 private:
  std::shared_ptr<Bytes> data_;
  uint64_t bytesWritten_ = 0;
};

}  // namespace loomkit
