// A main loop on poll(2), for the command-line tools and for tests that need a running loop
// without a toolkit.
#pragma once

#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "loomkit/shared/MainLoop.h"

namespace loomkit {

// The thread that constructs the loop is its main thread and must be the one that calls run().
// post(), performAndWait() and quit() may be called from any thread; queued_ is guarded by mutex_.
class PollMainLoop : public MainLoop {
 public:
  PollMainLoop();
  ~PollMainLoop() override;
  PollMainLoop(const PollMainLoop&) = delete;
  PollMainLoop& operator=(const PollMainLoop&) = delete;

  // Runs until quit(); returns the status given to quit().
  int run();
  // Runs the loop until pred() is true or the time-out passes; returns pred()'s last value.
  // Useful in tests: loop.runUntil([&] { return seen; }, 3s).
  bool runUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

  void post(Callback fn) override;
  void performAndWait(Callback fn) override;
  bool isMainThread() const override;
  Id addTimer(std::chrono::milliseconds interval, bool repeating, Callback fn) override;
  Id watchReadable(int fd, Callback fn) override;
  Id watchWritable(int fd, Callback fn) override;
  void cancel(Id id) override;
  void quit(int status) override;

 private:
  struct Timer {
    std::chrono::steady_clock::time_point due;
    std::chrono::milliseconds interval;
    bool repeating;
    Callback fn;
  };
  struct Watch {
    int fd;
    short events;  // POLLIN or POLLOUT
    Callback fn;
  };

  void wake();
  // One round: waits at most until the next timer or the deadline, then runs what is due.
  void runOnce(std::chrono::steady_clock::time_point deadline);

  // Constant after construction.
  const std::thread::id mainThread_;
  int wakeFd_ = -1;

  // Main thread only.
  Id nextId_ = 1;
  std::map<Id, Timer> timers_;
  std::map<Id, Watch> watches_;

  // Guarded by mutex_.
  std::mutex mutex_;
  std::vector<Callback> queued_;
  bool quitRequested_ = false;
  int status_ = 0;
};

}  // namespace loomkit
