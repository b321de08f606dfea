#include "platform/QtMainLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

namespace fotello {

QtMainLoop::QtMainLoop() {
  loomkit::requireMainThread();
  MainLoop::setMain(this);
}

QtMainLoop::~QtMainLoop() {
  if (MainLoop::main() == this) MainLoop::setMain(nullptr);
}

void QtMainLoop::post(Callback fn) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

void QtMainLoop::performAndWait(Callback fn) {
  if (isMainThread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::BlockingQueuedConnection);
}

bool QtMainLoop::isMainThread() const {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

loomkit::MainLoop::Id QtMainLoop::addTimer(std::chrono::milliseconds interval, bool repeating, Callback fn) {
  Id id = nextId_++;
  auto* timer = new QTimer(this);
  timer->setSingleShot(!repeating);
  timer->setInterval(interval);
  connect(timer, &QTimer::timeout, this, [this, id, repeating, fn = std::move(fn)] {
    Callback call = fn;  // the timer may be cancelled (and the lambda destroyed) by the call
    if (!repeating) cancel(id);
    call();
  });
  timers_[id] = timer;
  timer->start();
  return id;
}

loomkit::MainLoop::Id QtMainLoop::watchReadable(int fd, Callback fn) {
  return watch(fd, QSocketNotifier::Read, std::move(fn));
}

loomkit::MainLoop::Id QtMainLoop::watchWritable(int fd, Callback fn) {
  return watch(fd, QSocketNotifier::Write, std::move(fn));
}

loomkit::MainLoop::Id QtMainLoop::watch(int fd, QSocketNotifier::Type type, Callback fn) {
  Id id = nextId_++;
  auto* notifier = new QSocketNotifier(fd, type, this);
  connect(notifier, &QSocketNotifier::activated, this, [fn = std::move(fn)] {
    Callback call = fn;
    call();
  });
  watches_[id] = notifier;
  return id;
}

void QtMainLoop::cancel(Id id) {
  if (auto it = timers_.find(id); it != timers_.end()) {
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
  }
  if (auto it = watches_.find(id); it != watches_.end()) {
    it->second->setEnabled(false);
    it->second->deleteLater();
    watches_.erase(it);
  }
}

void QtMainLoop::quit(int status) {
  // exit() is safe from any thread; queue it so that it also works before exec() has started.
  QMetaObject::invokeMethod(QCoreApplication::instance(), [status] { QCoreApplication::exit(status); },
                            Qt::QueuedConnection);
}

}  // namespace fotello
