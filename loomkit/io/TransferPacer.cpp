#include "loomkit/io/TransferPacer.h"

#include <chrono>
#include <thread>

#include "loomkit/io/ThrottleSettings.h"
#include "loomkit/shared/Log.h"
#include "loomkit/shared/NotificationCenter.h"

namespace loomkit {

namespace {

constexpr double kSampleIntervalSeconds = 0.5;
constexpr double kClosedPauseSeconds = 0.5;
// The own rate assumed before any write time has accumulated.
constexpr double kInitialOwnRate = 1000.0;

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void sleepSeconds(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

void post(const char* name) { NotificationCenter::defaultCenter().postOnMainThread({name, {}}); }

}  // namespace

TransferPacer::TransferPacer() : TransferPacer([] { return NetMonitor::newMonitor(); }) {}

TransferPacer::TransferPacer(MonitorFactory newMonitor) : newMonitor_(std::move(newMonitor)) {}

TransferPacer::~TransferPacer() { post("StreamsDidResume"); }

void TransferPacer::stepBegins() {
  stepStart_ = now();
  stepType_ = ThrottleSettings::throttleType();
  if (stepType_ != ThrottleSettings::kAutomatic) {
    factor_ = 1.0;
    return;
  }
  // The first sample only gives the monitor its starting values, so the second step samples too.
  if (samplesTaken_ < 2 || stepStart_ - lastSampleTime_ > kSampleIntervalSeconds) {
    factor_ = sampleFactor();
    lastSampleTime_ = stepStart_;
    ++samplesTaken_;
  }
}

void TransferPacer::chunkRead() { readEnd_ = now(); }

void TransferPacer::chunkWritten(uint64_t length) {
  double writeEnd = now();
  if (stepType_ == ThrottleSettings::kFixedRate) holdToFixedRate(length, writeEnd - stepStart_);
  writingSeconds_ += writeEnd - readEnd_;
  bytesCopied_ += length;
  pauseOrResume();
}

double TransferPacer::sampleFactor() {
  if (!monitorCreated_) {
    monitor_ = newMonitor_();
    monitorCreated_ = true;
  }
  if (!monitor_) return 0.0;
  double ownRate = writingSeconds_ > 0 ? static_cast<double>(bytesCopied_) / writingSeconds_ : kInitialOwnRate;
  return monitor_->sample(ownRate);
}

void TransferPacer::holdToFixedRate(uint64_t length, double stepSeconds) {
  double share = static_cast<double>(length) / (ThrottleSettings::throttleKBPS() * 1000.0);
  if (share > stepSeconds) sleepSeconds(share - stepSeconds);
}

void TransferPacer::pauseOrResume() {
  if (factor_ < 1.0) {
    if (!paused_) {
      post("StreamsDidPause");
      LOG_DEBUG_OBJ(this, "throttled");
      paused_ = true;
    }
    if (factor_ == 0.0) sleepSeconds(kClosedPauseSeconds);
  } else if (paused_) {
    LOG_DEBUG_OBJ(this, "throttle open");
    post("StreamsDidResume");
    paused_ = false;
  }
}

}  // namespace loomkit
