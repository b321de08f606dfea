#include "loomkit/io/ThrottleSettings.h"

#include "loomkit/shared/Log.h"

namespace loomkit {

std::atomic<int> ThrottleSettings::type_{ThrottleSettings::kAutomatic};
std::atomic<int> ThrottleSettings::kbps_{100};

void ThrottleSettings::setThrottleType(int type) {
  type_.store(type, std::memory_order_relaxed);
  LOG_DEBUG("Streams throttleType set to %d", type);
}

void ThrottleSettings::setThrottleKBPS(int kbps) {
  if (kbps <= 0) kbps = 1;
  kbps_.store(kbps, std::memory_order_relaxed);
  LOG_DEBUG("Streams throttle KBPS set to %d", kbps);
}

}  // namespace loomkit
