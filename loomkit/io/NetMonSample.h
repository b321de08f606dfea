// One reading of the computer's received-bytes total and the moment it was taken.
#pragma once

#include <cstdint>

namespace loomkit {

// A plain value, owned by one NetMonitor.
struct NetMonSample {
  double timeInterval = 0;  // seconds since 2001-01-01 00:00:00 UTC; 0 for an empty sample
  uint64_t rawBytesIn = 0;  // the computer's total received bytes at that moment

  // Copies both fields from other.
  void set(const NetMonSample& other) { *this = other; }
};

}  // namespace loomkit
