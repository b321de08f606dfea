#include "loomkit/shared/PollMainLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>

#include "loomkit/shared/Log.h"

namespace loomkit {

using Clock = std::chrono::steady_clock;

PollMainLoop::PollMainLoop() : mainThread_(std::this_thread::get_id()) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    LOG_ERROR("eventfd: %s", systemErrorText(errno).c_str());
    std::abort();
  }
}

PollMainLoop::~PollMainLoop() {
  if (MainLoop::main() == this) MainLoop::setMain(nullptr);
  ::close(wakeFd_);
}

void PollMainLoop::wake() {
  uint64_t one = 1;
  ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
  (void)ignored;
}

void PollMainLoop::post(Callback fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(std::move(fn));
  }
  wake();
}

void PollMainLoop::performAndWait(Callback fn) {
  if (isMainThread()) {
    fn();
    return;
  }
  std::mutex doneMutex;
  std::condition_variable doneCv;
  bool done = false;
  post([&] {
    fn();
    std::lock_guard<std::mutex> lock(doneMutex);
    done = true;
    doneCv.notify_one();
  });
  std::unique_lock<std::mutex> lock(doneMutex);
  doneCv.wait(lock, [&] { return done; });
}

bool PollMainLoop::isMainThread() const { return std::this_thread::get_id() == mainThread_; }

MainLoop::Id PollMainLoop::addTimer(std::chrono::milliseconds interval, bool repeating, Callback fn) {
  Id id = nextId_++;
  timers_[id] = Timer{Clock::now() + interval, interval, repeating, std::move(fn)};
  return id;
}

MainLoop::Id PollMainLoop::watchReadable(int fd, Callback fn) {
  Id id = nextId_++;
  watches_[id] = Watch{fd, POLLIN, std::move(fn)};
  return id;
}

MainLoop::Id PollMainLoop::watchWritable(int fd, Callback fn) {
  Id id = nextId_++;
  watches_[id] = Watch{fd, POLLOUT, std::move(fn)};
  return id;
}

void PollMainLoop::cancel(Id id) {
  timers_.erase(id);
  watches_.erase(id);
}

void PollMainLoop::quit(int status) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quitRequested_ = true;
    status_ = status;
  }
  wake();
}

void PollMainLoop::runOnce(Clock::time_point deadline) {
  Clock::time_point until = deadline;
  for (const auto& [id, timer] : timers_) until = std::min(until, timer.due);
  auto now = Clock::now();
  int timeoutMs = 0;
  if (until > now) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    timeoutMs = ms > 60000 ? 60000 : static_cast<int>(ms);
  }

  std::vector<pollfd> fds;
  std::vector<Id> ids;
  fds.push_back({wakeFd_, POLLIN, 0});
  for (const auto& [id, watch] : watches_) {
    fds.push_back({watch.fd, watch.events, 0});
    ids.push_back(id);
  }
  int n = ::poll(fds.data(), fds.size(), timeoutMs);
  if (n < 0 && errno != EINTR) LOG_ERROR("poll: %s", systemErrorText(errno).c_str());

  if (n > 0) {
    if (fds[0].revents) {
      uint64_t count;
      ssize_t ignored = ::read(wakeFd_, &count, sizeof count);
      (void)ignored;
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (!(fds[i].revents & (fds[i].events | POLLHUP | POLLERR))) continue;
      auto it = watches_.find(ids[i - 1]);  // an earlier callback may have cancelled it
      if (it == watches_.end()) continue;
      Callback fn = it->second.fn;
      fn();
    }
  }

  std::vector<Callback> work;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    work.swap(queued_);
  }
  for (auto& fn : work) fn();

  now = Clock::now();
  std::vector<Id> due;
  for (const auto& [id, timer] : timers_) {
    if (timer.due <= now) due.push_back(id);
  }
  for (Id id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end()) continue;
    Callback fn = it->second.fn;
    if (it->second.repeating) {
      it->second.due = now + it->second.interval;
    } else {
      timers_.erase(it);
    }
    fn();
  }
}

int PollMainLoop::run() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quitRequested_) {
        quitRequested_ = false;
        return status_;
      }
    }
    runOnce(Clock::now() + std::chrono::hours(1));
  }
}

bool PollMainLoop::runUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!pred()) {
    if (Clock::now() >= deadline) return pred();
    // Wake at least every 10 ms so that pred() sees changes made by other threads.
    runOnce(std::min(deadline, Clock::now() + std::chrono::milliseconds(10)));
  }
  return true;
}

}  // namespace loomkit
