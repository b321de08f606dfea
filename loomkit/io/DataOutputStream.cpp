#include "loomkit/io/DataOutputStream.h"

#include "loomkit/shared/Format.h"

namespace loomkit {

DataOutputStream::DataOutputStream(std::shared_ptr<Bytes> data) : data_(std::move(data)) {
  if (!data_) data_ = std::make_shared<Bytes>();
}

int64_t DataOutputStream::write(const void* bytes, uint64_t length, Error*) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  data_->insert(data_->end(), p, p + length);
  bytesWritten_ += length;
  return static_cast<int64_t>(length);
}

std::string DataOutputStream::description() const {
  return strprintf("<DataOutputStream: %lu>", static_cast<unsigned long>(data_->size()));
}

}  // namespace loomkit
