// Paces one run of the stream copy loop according to the process-wide throttle settings
// (ThrottleSettings): mode none copies at full speed, automatic backs off while other traffic
// arrives on the computer's network interfaces, fixed rate holds each chunk to the configured rate.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "loomkit/io/NetMonitor.h"

namespace loomkit {

// One object per copy, used by the copying thread only. The copy loop calls, for each chunk:
// stepBegins() before its read, chunkRead() after a successful read, chunkWritten(n) after a
// successful write of n bytes; a step that ends the copy stops after its read or write. The mode
// and rate are read anew at every step. Notifications go to the main thread without waiting.
class TransferPacer {
 public:
  using MonitorFactory = std::function<std::unique_ptr<NetMonitor>()>;

  // Paces with a monitor of the system's interface counters (NetMonitor::newMonitor()).
  TransferPacer();
  // Paces with the monitor the factory makes; the factory runs at most once, at the copy's first
  // automatic step. A factory that gives nullptr makes every automatic step pause for 0.5 s.
  explicit TransferPacer(MonitorFactory newMonitor);
  // Posts "StreamsDidResume" once, however the copy ended.
  ~TransferPacer();
  TransferPacer(const TransferPacer&) = delete;
  TransferPacer& operator=(const TransferPacer&) = delete;

  // In automatic mode, samples the network traffic when the last sample is more than 0.5 s old.
  void stepBegins();
  void chunkRead();
  // Sleeps as the mode asks: at a fixed rate until the step took the chunk's share of the rate; in
  // automatic mode 0.5 s while the monitor's factor is 0. Posts "StreamsDidPause" when the factor
  // drops below 1 and "StreamsDidResume" when it is back at 1.
  void chunkWritten(uint64_t length);

 private:
  // The throttle factor of a new sample at the copy's own send rate so far.
  double sampleFactor();
  void holdToFixedRate(uint64_t length, double stepSeconds);
  void pauseOrResume();

  MonitorFactory newMonitor_;
  std::unique_ptr<NetMonitor> monitor_;
  bool monitorCreated_ = false;  // the factory ran (monitor_ may still be null)
  int samplesTaken_ = 0;
  double lastSampleTime_ = 0;    // steady-clock seconds
  uint64_t bytesCopied_ = 0;
  double writingSeconds_ = 0;    // time spent inside write calls
  double factor_ = 1.0;
  bool paused_ = false;
  int stepType_ = 0;             // the throttle type read at the start of the step
  double stepStart_ = 0;         // t0 of the step
  double readEnd_ = 0;           // t1 of the step
};

}  // namespace loomkit
