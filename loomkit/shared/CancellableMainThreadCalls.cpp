#include "loomkit/shared/CancellableMainThreadCalls.h"

#include "loomkit/shared/MainLoop.h"

namespace loomkit {

bool CancellableMainThreadCalls::performAndWait(std::function<void()> fn) {
  auto pending = std::make_shared<Pending>();
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return false;
    pending_.insert(pending);
  }
  bool finished = true;
  MainLoop* loop = MainLoop::main();
  if (!loop || loop->isMainThread()) {
    fn();
  } else {
    loop->post([pending, fn = std::move(fn)] {
      {
        std::lock_guard lock(pending->mutex);
        if (pending->cancelled) return;
      }
      // Not cancelled: whatever fn reaches is still alive, since its owner cancels on this same
      // thread before going away.
      fn();
      std::lock_guard lock(pending->mutex);
      pending->finished = true;
      pending->done.notify_all();
    });
    std::unique_lock lock(pending->mutex);
    pending->done.wait(lock, [&] { return pending->finished || pending->cancelled; });
    finished = pending->finished;
  }
  std::lock_guard lock(mutex_);
  pending_.erase(pending);
  return finished;
}

void CancellableMainThreadCalls::cancelAll() {
  std::set<std::shared_ptr<Pending>> pending;
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    pending = pending_;
  }
  for (const auto& call : pending) {
    std::lock_guard lock(call->mutex);
    call->cancelled = true;
    call->done.notify_all();
  }
}

bool CancellableMainThreadCalls::cancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

}  // namespace loomkit
