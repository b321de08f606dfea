// A factory of input streams over one byte buffer in memory.
#pragma once

#include <memory>

#include "loomkit/io/InputStream.h"

namespace loomkit {

// Immutable after construction: safe to use from any number of threads.
class DataInputStreamFactory final : public InputStreamFactory {
 public:
  explicit DataInputStreamFactory(std::shared_ptr<const Bytes> data);
  explicit DataInputStreamFactory(Bytes data);

  // A DataInputStream over the shared buffer, at its start.
  std::unique_ptr<InputStream> newInputStream() const override;
  // "<DataISF: %lu>" with the buffer length.
  std::string description() const override;

  const Bytes& data() const { return *data_; }

 private:
  std::shared_ptr<const Bytes> data_;
};

}  // namespace loomkit
