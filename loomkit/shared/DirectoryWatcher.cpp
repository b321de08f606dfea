#include "loomkit/shared/DirectoryWatcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {
constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                           IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
}

DirectoryWatcher::DirectoryWatcher(std::string directory, std::chrono::milliseconds latency, Callback callback)
    : directory_(std::move(directory)), latency_(latency), callback_(std::move(callback)) {}

DirectoryWatcher::~DirectoryWatcher() { stop(); }

bool DirectoryWatcher::start(Error* error) {
  stop();
  MainLoop* loop = MainLoop::main();
  if (!loop) {
    LOG_ERROR("DirectoryWatcher needs a main loop");
    std::abort();
  }
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    int e = errno;
    return setUnixError(error, e, strprintf("inotify_init1: %s", systemErrorText(e).c_str()));
  }
  if (::inotify_add_watch(fd_, directory_.c_str(), kMask | IN_ONLYDIR) < 0) {
    int e = errno;
    ::close(fd_);
    fd_ = -1;
    return setUnixError(error, e,
                        strprintf("inotify_add_watch(%s): %s", directory_.c_str(), systemErrorText(e).c_str()));
  }
  watchId_ = loop->watchReadable(fd_, [this] { readEvents(); });
  return true;
}

void DirectoryWatcher::stop() {
  if (MainLoop* loop = MainLoop::main()) {
    if (watchId_) loop->cancel(watchId_);
    if (timerId_) loop->cancel(timerId_);
  }
  watchId_ = timerId_ = 0;
  pending_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void DirectoryWatcher::readEvents() {
  alignas(inotify_event) char buf[16384];
  for (;;) {
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buf + off);
      off += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        changed(directory_);
      } else if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
        changed(directory_);
      } else if (event->len > 0) {
        changed(directory_ + "/" + event->name);
      }
    }
  }
}

void DirectoryWatcher::changed(std::string path) {
  pending_.insert(std::move(path));
  if (timerId_) return;  // a delivery at the end of the current latency is already due
  auto now = std::chrono::steady_clock::now();
  auto sinceLast = now - lastDelivery_;
  if (lastDelivery_ == std::chrono::steady_clock::time_point{} || sinceLast >= latency_) {
    deliver();
    return;
  }
  auto wait = std::chrono::ceil<std::chrono::milliseconds>(latency_ - sinceLast);
  timerId_ = MainLoop::main()->addTimer(wait, false, [this] {
    timerId_ = 0;
    deliver();
  });
}

void DirectoryWatcher::deliver() {
  lastDelivery_ = std::chrono::steady_clock::now();
  std::vector<std::string> paths(pending_.begin(), pending_.end());
  pending_.clear();
  if (!paths.empty()) callback_(paths);
}

}  // namespace loomkit
