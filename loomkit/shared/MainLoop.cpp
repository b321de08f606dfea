#include "loomkit/shared/MainLoop.h"

#include <atomic>
#include <cstdlib>

#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {
std::atomic<MainLoop*> installed{nullptr};
}

MainLoop* MainLoop::main() { return installed.load(std::memory_order_acquire); }

void MainLoop::setMain(MainLoop* loop) { installed.store(loop, std::memory_order_release); }

void requireMainThread() {
  MainLoop* loop = MainLoop::main();
  if (loop && !loop->isMainThread()) {
    LOG_ERROR("must be on main thread!");
    std::abort();
  }
}

}  // namespace loomkit
