// The copy loop between two streams, and the process-wide throttle settings that pace it.
#pragma once

#include <string>
#include <string_view>

#include "loomkit/io/InputStream.h"
#include "loomkit/io/OutputStream.h"

namespace loomkit {

// Stateless apart from the throttle settings, which are atomics written at start-up and read by
// every copy on any thread without a lock. A copy runs on the caller's thread.
class Streams {
 public:
  // Throttle types.
  static constexpr int kThrottleNone = 0;
  static constexpr int kThrottleAutomatic = 1;
  static constexpr int kThrottleFixedRate = 2;

  // Bytes per step of a paced copy.
  static constexpr uint64_t kChunkSize = 8192;
  // Bytes per step of an unpaced copy (throttle type none): fewer, larger system calls.
  static constexpr uint64_t kUnpacedChunkSize = 256 * 1024;

  // Code of the failure when an output stream accepted 0 bytes.
  static constexpr int64_t kZeroBytesWrittenCode = -13;
  // "StreamsErrorDomain".
  static std::string_view errorDomain();

  // Copies in until it ends: a read of 0 ends with success, a failed read or write with failure
  // (its error stands). A chunk that out accepts only in part is completed by further writes; a
  // write that takes nothing fails with kZeroBytesWrittenCode "0 bytes written to %@". Each whole
  // chunk is added to bytesWritten. The steps are paced by the throttle settings; "StreamsDidResume"
  // is posted to the main thread once when the copy ends.
  static bool transferFrom(InputStream& in, OutputStream& out, uint64_t& bytesWritten, Error* error = nullptr);
  static bool transferFrom(InputStream& in, OutputStream& out, Error* error = nullptr);

  // Copies in into a new file that then replaces atomicallyToFile (mode 0600), so that readers see
  // the old file or the whole new one; bytesWritten receives the file's length on success.
  // Failures: "mkstemp(%s): %s", the copy's error, "rename(%@, %@): %s"; a failed copy or rename
  // logs "error transferring bytes to %@" and leaves the old file in place.
  static bool transferFrom(InputStream& in, const std::string& atomicallyToFile, uint64_t& bytesWritten,
                           Error* error = nullptr);

  // Writes all length bytes to out, calling write until it accepted them (the same failures as
  // the copy loop's writes).
  static bool writeFully(OutputStream& out, const void* bytes, uint64_t length, Error* error = nullptr);

  // 0 none (both programs select it at start), 1 automatic (initial value), 2 fixed rate. Logs
  // "Streams throttleType set to %d" at DEBUG.
  static void setThrottleType(int type);
  static int throttleType();
  // Kilobytes (1000 bytes) per second of the fixed rate; 0 or less stores 1. Initially 100. Logs
  // "Streams throttle KBPS set to %d" at DEBUG.
  static void setThrottleKBPS(int kbps);
  static int throttleKBPS();
};

}  // namespace loomkit
