// Watches the computer's incoming network traffic during one copy and turns it into a throttle
// factor: about 0 while foreign traffic exceeds a tenth of the copy's own rate, climbing back
// linearly to 1 over the 30 seconds after that.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "loomkit/io/NetMonSample.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// One monitor per copy, used by the copying thread only.
class NetMonitor {
 public:
  // Reads the computer's received and sent byte totals (Sysctl::networkBytesIn's contract).
  using ByteCounter = std::function<bool(uint64_t& bytesIn, uint64_t& bytesOut, Error* error)>;
  // Seconds since 2001-01-01 00:00:00 UTC.
  using Clock = std::function<double()>;

  // Sysctl::networkBytesIn, and the system clock in seconds since 2001-01-01 00:00:00 UTC.
  static bool systemByteCounter(uint64_t& bytesIn, uint64_t& bytesOut, Error* error);
  static double systemClock();

  // A monitor with empty samples, after one successful read of the totals; nullptr (with the ERROR
  // line "failed to get net stats: %@") when they cannot be read.
  static std::unique_ptr<NetMonitor> newMonitor(ByteCounter counter = systemByteCounter,
                                                Clock clock = systemClock);

  // Takes a sample and returns the throttle factor for a copy sending ownRate bytes per second:
  // 1.0 when the totals cannot be read or went backwards, otherwise (now − last time over the
  // threshold) / 30 while that is below 30 seconds, else 1.0.
  double sample(double ownRate);

  const NetMonSample& currentSample() const { return currentSample_; }
  const NetMonSample& previousSample() const { return previousSample_; }
  // The time of the last sample over the threshold; 0 until there was one.
  double overThresholdTime() const { return overThresholdTime_; }

 private:
  NetMonitor(ByteCounter counter, Clock clock) : counter_(std::move(counter)), clock_(std::move(clock)) {}
  // Logs the received bytes since the previous sample and marks the sample when they are over the
  // threshold.
  void compareWithPrevious(double ownRate);

  const ByteCounter counter_;
  const Clock clock_;
  NetMonSample currentSample_;
  NetMonSample previousSample_;
  double overThresholdTime_ = 0;
};

}  // namespace loomkit
