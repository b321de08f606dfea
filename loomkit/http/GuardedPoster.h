// Hands closures to the main loop on behalf of an object, and drops those that have not run yet
// when the object goes away or asks for it: a delegate never hears from an object it let go of.
#pragma once

#include <functional>
#include <memory>

#include "loomkit/shared/MainLoop.h"

namespace loomkit {

// Main thread only, like the closures it runs. The main loop must be installed before one is made
// (a programming error otherwise) and must outlive it.
class GuardedPoster {
 public:
  GuardedPoster();
  GuardedPoster(const GuardedPoster&) = delete;
  GuardedPoster& operator=(const GuardedPoster&) = delete;

  // The loop the closures run on.
  MainLoop& loop() const { return loop_; }
  // Runs fn on the main loop soon, unless this poster is destroyed or dropPending() is called
  // first. Closures run in the order they were posted.
  void post(std::function<void()> fn);
  // Forgets every closure posted so far; later posts run as usual.
  void dropPending();

 private:
  MainLoop& loop_;
  std::shared_ptr<char> token_;  // posted closures hold it weakly
};

}  // namespace loomkit
