#include "loomkit/io/NetMonitor.h"

#include <chrono>

#include "loomkit/shared/Log.h"
#include "loomkit/shared/Sysctl.h"

namespace loomkit {

namespace {

constexpr double kSecondsFrom1970To2001 = 978307200.0;
// Received bytes per sample interval that never count as foreign traffic.
constexpr uint64_t kAllowanceBytes = 300;
// Foreign traffic above this share of the own rate closes the throttle.
constexpr double kThreshold = 0.1;
// The time the factor takes to climb back from 0 to 1.
constexpr double kRecoverySeconds = 30.0;

}  // namespace

bool NetMonitor::systemByteCounter(uint64_t& bytesIn, uint64_t& bytesOut, Error* error) {
  return Sysctl::networkBytesIn(bytesIn, bytesOut, error);
}

double NetMonitor::systemClock() {
  auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(sinceEpoch).count() - kSecondsFrom1970To2001;
}

std::unique_ptr<NetMonitor> NetMonitor::newMonitor(ByteCounter counter, Clock clock) {
  uint64_t bytesIn = 0, bytesOut = 0;
  Error error;
  if (!counter(bytesIn, bytesOut, &error)) {
    LOG_ERROR("failed to get net stats: %s", error.description().c_str());
    return nullptr;
  }
  return std::unique_ptr<NetMonitor>(new NetMonitor(std::move(counter), std::move(clock)));
}

double NetMonitor::sample(double ownRate) {
  uint64_t bytesIn = 0, bytesOut = 0;
  Error error;
  if (!counter_(bytesIn, bytesOut, &error)) {
    LOG_ERROR("failed to get net stats: %s", error.description().c_str());
    return 1.0;
  }
  previousSample_.set(currentSample_);
  currentSample_ = NetMonSample{clock_(), bytesIn};
  if (currentSample_.rawBytesIn < previousSample_.rawBytesIn) return 1.0;  // the counters were reset
  if (previousSample_.timeInterval != 0) compareWithPrevious(ownRate);

  double sinceOverThreshold = currentSample_.timeInterval - overThresholdTime_;
  if (sinceOverThreshold >= kRecoverySeconds) return 1.0;
  double factor = sinceOverThreshold / kRecoverySeconds;
  LOG_TRACE_OBJ(this, "throttle: %0.2f", factor);
  return factor;
}

void NetMonitor::compareWithPrevious(double ownRate) {
  uint64_t received = currentSample_.rawBytesIn - previousSample_.rawBytesIn;
  if (received > kAllowanceBytes) received -= kAllowanceBytes;
  double interval = currentSample_.timeInterval - previousSample_.timeInterval;
  // A clock that stood still or went back measures nothing.
  double incomingRate = interval > 0 ? static_cast<double>(received) / interval : 0.0;
  double ratio = ownRate != 0 ? incomingRate / ownRate : 0.0;
  bool over = ownRate != 0 && ratio > kThreshold;
  // The sample's own time, so that the factor of this very sample is exactly 0.
  if (over) overThresholdTime_ = currentSample_.timeInterval;
  LOG_TRACE_OBJ(this, "sent: %0.2fBPS bytesIn: %llu (%0.2fBPS) ratio: %0.2f threshold: %0.2f interval: %0.2f %s",
                ownRate, static_cast<unsigned long long>(received), incomingRate, ratio, kThreshold, interval,
                over ? ": over threshold" : "");
}

}  // namespace loomkit
