// A pass-through input stream that counts what it hands out and lets a delegate veto a slurp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "loomkit/io/InputStream.h"

namespace loomkit {

class MonitoredInputStream;

// Told of the bytes a MonitoredInputStream slurped; called on the slurping thread.
class MonitoredInputStreamDelegate {
 public:
  virtual ~MonitoredInputStreamDelegate() = default;
  // Returns true to let the slurp of receivedBytes bytes succeed, or false with *error filled in
  // (when error is given) to fail it.
  virtual bool monitoredInputStream(MonitoredInputStream& stream, uint64_t receivedBytes, Error* error) = 0;
};

// Used by one thread at a time; it owns the underlying stream and shares the delegate.
class MonitoredInputStream : public InputStream {
 public:
  // Wraps underlying (required) and posts "MonitoredInputStreamCreated" to the main thread. A
  // missing delegate lets every slurp through.
  MonitoredInputStream(std::unique_ptr<InputStream> underlying,
                       std::shared_ptr<MonitoredInputStreamDelegate> delegate);

  // The underlying stream's read, unchanged; every non-negative count is added to bytesReceived().
  // The delegate is not consulted.
  int64_t read(void* buffer, uint64_t capacity, Error* error = nullptr) override;

  // Slurps the underlying stream, then asks the delegate about the byte count: a refusal fails the
  // slurp with the delegate's error; otherwise the count is added to bytesReceived().
  std::optional<Bytes> slurp(Error* error = nullptr) override;

  // "<MonitoredInputStream: underlying=%s>".
  std::string description() const override;

  uint64_t bytesReceived() const { return bytesReceived_; }

 private:
  std::unique_ptr<InputStream> underlying_;
  std::shared_ptr<MonitoredInputStreamDelegate> delegate_;
  uint64_t bytesReceived_ = 0;
};

}  // namespace loomkit
