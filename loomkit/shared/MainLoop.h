// The program's main event loop, as the shared code sees it: hand work to the main thread, and on
// the main thread schedule timers and watch descriptors. Programs install one implementation at
// start (the Qt loop in the agent and the desktop application, PollMainLoop in tools and tests),
// so the shared code never depends on a particular toolkit.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace loomkit {

// post(), performAndWait() and isMainThread() are safe from any thread; the other operations
// must be called on the main thread, and their callbacks run there.
class MainLoop {
 public:
  using Callback = std::function<void()>;
  using Id = uint64_t;  // 0 is never a valid id

  virtual ~MainLoop() = default;

  // Runs fn on the main thread soon; never waits.
  virtual void post(Callback fn) = 0;
  // Runs fn on the main thread and returns when it has run; on the main thread, runs it at once.
  virtual void performAndWait(Callback fn) = 0;
  virtual bool isMainThread() const = 0;

  // Calls fn after interval, and again every interval while repeating, until cancelled.
  virtual Id addTimer(std::chrono::milliseconds interval, bool repeating, Callback fn) = 0;
  // Calls fn whenever fd is readable (or has hung up or failed), until cancelled. The caller keeps
  // the descriptor open.
  virtual Id watchReadable(int fd, Callback fn) = 0;
  // Calls fn whenever fd is writable (or has hung up or failed), until cancelled. The caller keeps
  // the descriptor open.
  virtual Id watchWritable(int fd, Callback fn) = 0;
  // Stops a timer or a watch; unknown or already finished ids are ignored.
  virtual void cancel(Id id) = 0;

  // Ends the loop; its run returns status. Safe from any thread.
  virtual void quit(int status) = 0;

  // The process's main loop, or nullptr before a program installed one.
  static MainLoop* main();
  // Installs the process's main loop (nullptr removes it). The program keeps ownership.
  static void setMain(MainLoop* loop);
};

// Stops the program with "must be on main thread!" unless called on the main loop's thread.
void requireMainThread();

}  // namespace loomkit
