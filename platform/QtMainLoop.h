// The main loop of both programs: loomkit's MainLoop on the Qt event loop of the main thread.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <map>

#include "loomkit/shared/MainLoop.h"

class QTimer;

namespace fotello {

// Create it on the main thread after the Q(Core)Application; it installs itself as
// MainLoop::main() and removes itself on destruction. post() and performAndWait() are safe from
// any thread; the rest is main-thread only, like the Qt objects it makes.
class QtMainLoop : public QObject, public loomkit::MainLoop {
  Q_OBJECT
 public:
  QtMainLoop();
  ~QtMainLoop() override;

  void post(Callback fn) override;
  void performAndWait(Callback fn) override;
  bool isMainThread() const override;
  Id addTimer(std::chrono::milliseconds interval, bool repeating, Callback fn) override;
  Id watchReadable(int fd, Callback fn) override;
  Id watchWritable(int fd, Callback fn) override;
  void cancel(Id id) override;
  void quit(int status) override;

 private:
  Id watch(int fd, QSocketNotifier::Type type, Callback fn);

  // Main thread only.
  Id nextId_ = 1;
  std::map<Id, QTimer*> timers_;
  std::map<Id, QSocketNotifier*> watches_;
};

}  // namespace fotello
