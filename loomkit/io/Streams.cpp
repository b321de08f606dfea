#include "loomkit/io/Streams.h"

#include <atomic>
#include <memory>

#include "loomkit/io/FileSystem.h"
#include "loomkit/io/TransferPacer.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {
std::atomic<int> gThrottleType{Streams::kThrottleAutomatic};
std::atomic<int> gThrottleKBPS{100};
}  // namespace

std::string_view Streams::errorDomain() { return "StreamsErrorDomain"; }

bool Streams::writeFully(OutputStream& out, const void* bytes, uint64_t length, Error* error) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  while (length > 0) {
    int64_t n = out.write(p, length, error);
    if (n < 0) return false;
    if (n == 0) return setError(error, errorDomain(), kZeroBytesWrittenCode, "0 bytes written to " + out.description());
    p += n;
    length -= static_cast<uint64_t>(n);
  }
  return true;
}

bool Streams::transferFrom(InputStream& in, OutputStream& out, uint64_t& bytesWritten, Error* error) {
  TransferPacer pacer;
  // One buffer per copy, large enough for either step size.
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[kUnpacedChunkSize]);
  for (;;) {
    pacer.stepBegins();
    uint64_t step = throttleType() == kThrottleNone ? kUnpacedChunkSize : kChunkSize;
    int64_t n = in.read(chunk.get(), step, error);
    if (n < 0) return false;
    if (n == 0) return true;
    pacer.chunkRead();
    if (!writeFully(out, chunk.get(), static_cast<uint64_t>(n), error)) return false;
    pacer.chunkWritten(static_cast<uint64_t>(n));
    bytesWritten += static_cast<uint64_t>(n);
  }
}

bool Streams::transferFrom(InputStream& in, OutputStream& out, Error* error) {
  uint64_t ignored = 0;
  return transferFrom(in, out, ignored, error);
}

bool Streams::transferFrom(InputStream& in, const std::string& atomicallyToFile, uint64_t& bytesWritten,
                           Error* error) {
  return FileSystem::replaceFileAtomically(
      atomicallyToFile, [&in](OutputStream& out, Error* e) { return transferFrom(in, out, e); }, &bytesWritten,
      error);
}

void Streams::setThrottleType(int type) {
  gThrottleType.store(type, std::memory_order_relaxed);
  LOG_DEBUG("Streams throttleType set to %d", type);
}

int Streams::throttleType() { return gThrottleType.load(std::memory_order_relaxed); }

void Streams::setThrottleKBPS(int kbps) {
  int stored = kbps <= 0 ? 1 : kbps;
  gThrottleKBPS.store(stored, std::memory_order_relaxed);
  LOG_DEBUG("Streams throttle KBPS set to %d", stored);
}

int Streams::throttleKBPS() { return gThrottleKBPS.load(std::memory_order_relaxed); }

}  // namespace loomkit
