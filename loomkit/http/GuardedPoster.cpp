#include "loomkit/http/GuardedPoster.h"

#include <cstdlib>

#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {
MainLoop& installedLoop() {
  MainLoop* loop = MainLoop::main();
  if (!loop) {
    LOG_ERROR("no main loop installed!");
    std::abort();
  }
  return *loop;
}
}  // namespace

GuardedPoster::GuardedPoster() : loop_(installedLoop()), token_(std::make_shared<char>()) {}

void GuardedPoster::post(std::function<void()> fn) {
  loop_.post([alive = std::weak_ptr<char>(token_), fn = std::move(fn)] {
    if (alive.lock()) fn();
  });
}

void GuardedPoster::dropPending() { token_ = std::make_shared<char>(); }

}  // namespace loomkit
