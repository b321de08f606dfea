// Paces one run of the stream copy loop according to the process-wide throttle settings of
// Streams (mode none, automatic back-off while other traffic arrives, or a fixed rate).
#pragma once

#include <cstdint>

namespace loomkit {

// One object per copy, used by the copying thread only. The copy loop calls, for each chunk:
// stepBegins() before its read, chunkRead() after a successful read, chunkWritten(n) after a
// successful write. Destruction posts "StreamsDidResume" to the main thread once.
class TransferPacer {
 public:
  TransferPacer();
  ~TransferPacer();
  TransferPacer(const TransferPacer&) = delete;
  TransferPacer& operator=(const TransferPacer&) = delete;

  void stepBegins();
  void chunkRead();
  void chunkWritten(uint64_t length);
};

}  // namespace loomkit
