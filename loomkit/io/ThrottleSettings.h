// The process-wide bandwidth throttle of the stream copy loop: its mode and its fixed rate.
#pragma once

#include <atomic>

namespace loomkit {

// Plain process-wide values, written at start-up and read by every copy loop without a lock (relaxed
// atomics); a change takes effect at a copy's next step. The Streams setters forward here.
class ThrottleSettings {
 public:
  enum Type : int { kNone = 0, kAutomatic = 1, kFixedRate = 2 };

  ThrottleSettings() = delete;

  // Sets the mode (0 none, 1 automatic, 2 fixed rate; any other value paces like none) and logs it
  // at DEBUG. The initial mode is automatic; both programs select none at start.
  static void setThrottleType(int type);
  static int throttleType() { return type_.load(std::memory_order_relaxed); }

  // Sets the fixed rate in kilobytes (1000 bytes) per second; 0 or less stores 1. Logs it at DEBUG.
  // The initial rate is 100.
  static void setThrottleKBPS(int kbps);
  static int throttleKBPS() { return kbps_.load(std::memory_order_relaxed); }

 private:
  static std::atomic<int> type_;
  static std::atomic<int> kbps_;
};

}  // namespace loomkit
