#include "loomkit/io/DataInputStreamFactory.h"

#include "loomkit/io/DataInputStream.h"
#include "loomkit/shared/Format.h"

namespace loomkit {

DataInputStreamFactory::DataInputStreamFactory(std::shared_ptr<const Bytes> data) : data_(std::move(data)) {
  if (!data_) data_ = std::make_shared<const Bytes>();
}

DataInputStreamFactory::DataInputStreamFactory(Bytes data)
    : data_(std::make_shared<const Bytes>(std::move(data))) {}

std::unique_ptr<InputStream> DataInputStreamFactory::newInputStream() const {
  return std::make_unique<DataInputStream>(data_);
}

std::string DataInputStreamFactory::description() const {
  return strprintf("<DataISF: %lu>", static_cast<unsigned long>(data_->size()));
}

}  // namespace loomkit
