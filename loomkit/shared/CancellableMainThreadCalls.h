// "Perform on the main thread and wait" for a worker whose owner may stop it from the main thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

namespace loomkit {

// A worker thread that reports to the main thread and waits for each report would deadlock with
// an owner that, on the main thread, stops the worker and waits for it to end. Calls made
// through this object can be cancelled: cancelAll() ends every wait at once, and a cancelled call
// that has not started on the main thread never runs.
//
// Thread-safe: mutex_ guards cancelled_ and pending_; each pending call has its own lock.
class CancellableMainThreadCalls {
 public:
  // Runs fn on the main thread and waits for it to return; runs it at once when there is no main
  // loop or this is the main thread. False, without waiting, when cancelAll() came first or ends
  // the wait (fn then has not run, or is still running on the main thread).
  bool performAndWait(std::function<void()> fn);

  // Any thread: ends every waiting call and makes every later one return false at once. Final.
  void cancelAll();
  bool cancelled() const;

 private:
  struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;   // guarded by mutex
    bool cancelled = false;  // guarded by mutex
  };

  mutable std::mutex mutex_;
  bool cancelled_ = false;                        // guarded by mutex_
  std::set<std::shared_ptr<Pending>> pending_;    // guarded by mutex_
};

}  // namespace loomkit
