// Kernel counters of the host computer: the total bytes moved by its network interfaces.
#pragma once

#include <cstdint>
#include <string>

#include "loomkit/shared/Error.h"

namespace loomkit {

// Class operations only; they share no state and are safe to call from any thread.
class Sysctl {
 public:
  Sysctl() = delete;

  // Fills bytesIn and bytesOut with the bytes received and sent over all network interfaces since
  // start-up and returns true. On failure returns false with a "UnixErrorDomain" error
  // "sysctl: %s"; the totals are not valid then.
  static bool networkBytesIn(uint64_t& bytesIn, uint64_t& bytesOut, Error* error = nullptr);

  // The same, summing the interface lines of a file in the kernel's /proc/net/dev form; lines
  // without an interface name or without both byte counters are skipped.
  static bool networkBytesInFromFile(const std::string& path, uint64_t& bytesIn, uint64_t& bytesOut,
                                     Error* error = nullptr);
};

}  // namespace loomkit
