#include "loomkit/io/DataInputStream.h"

#include <algorithm>
#include <cstring>

#include "loomkit/shared/Format.h"

namespace loomkit {

DataInputStream::DataInputStream(std::shared_ptr<const Bytes> data) : data_(std::move(data)) {
  if (!data_) data_ = std::make_shared<const Bytes>();
}

DataInputStream::DataInputStream(Bytes data) : data_(std::make_shared<const Bytes>(std::move(data))) {}

DataInputStream::DataInputStream(const Bytes& data, uint64_t offset, uint64_t length) {
  uint64_t start = std::min<uint64_t>(offset, data.size());
  uint64_t count = std::min<uint64_t>(length, data.size() - start);
  data_ = std::make_shared<const Bytes>(data.begin() + start, data.begin() + start + count);
}

int64_t DataInputStream::read(void* buffer, uint64_t capacity, Error*) {
  uint64_t count = std::min<uint64_t>(capacity, data_->size() - pos_);
  if (count > 0) std::memcpy(buffer, data_->data() + pos_, count);
  pos_ += count;
  return static_cast<int64_t>(count);
}

std::optional<Bytes> DataInputStream::slurp(Error*) {
  Bytes rest(data_->begin() + pos_, data_->end());
  pos_ = data_->size();
  return rest;
}

std::string DataInputStream::description() const {
  return strprintf("<DataInputStream: %lu>", static_cast<unsigned long>(data_->size()));
}

}  // namespace loomkit
