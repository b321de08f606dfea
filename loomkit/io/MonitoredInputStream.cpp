#include "loomkit/io/MonitoredInputStream.h"

#include <cstdlib>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"
#include "loomkit/shared/NotificationCenter.h"

namespace loomkit {

MonitoredInputStream::MonitoredInputStream(std::unique_ptr<InputStream> underlying,
                                           std::shared_ptr<MonitoredInputStreamDelegate> delegate)
    : underlying_(std::move(underlying)), delegate_(std::move(delegate)) {
  if (!underlying_) {
    LOG_ERROR("MonitoredInputStream: underlying stream can't be nil");
    std::abort();
  }
  NotificationCenter::defaultCenter().postOnMainThread({"MonitoredInputStreamCreated", {}});
}

int64_t MonitoredInputStream::read(void* buffer, uint64_t capacity, Error* error) {
  int64_t count = underlying_->read(buffer, capacity, error);
  if (count >= 0) bytesReceived_ += static_cast<uint64_t>(count);
  return count;
}

std::optional<Bytes> MonitoredInputStream::slurp(Error* error) {
  std::optional<Bytes> bytes = underlying_->slurp(error);
  if (!bytes) return std::nullopt;
  if (delegate_ && !delegate_->monitoredInputStream(*this, bytes->size(), error)) return std::nullopt;
  bytesReceived_ += bytes->size();
  return bytes;
}

std::string MonitoredInputStream::description() const {
  return strprintf("<MonitoredInputStream: underlying=%s>", underlying_->description().c_str());
}

}  // namespace loomkit
