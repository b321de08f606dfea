#include "platform/MainLoopAvahiPoll.h"

#include <sys/time.h>

#include <chrono>

// The opaque types of avahi's interface, defined by the loop that implements it.
struct AvahiWatch {
  fotello::MainLoopAvahiPoll* owner;
  int fd;
  AvahiWatchCallback callback;
  void* userdata;
  AvahiWatchEvent happened;
  loomkit::MainLoop::Id readable;
  loomkit::MainLoop::Id writable;
};

struct AvahiTimeout {
  fotello::MainLoopAvahiPoll* owner;
  AvahiTimeoutCallback callback;
  void* userdata;
  loomkit::MainLoop::Id timer;
};

namespace fotello {

MainLoopAvahiPoll::MainLoopAvahiPoll(loomkit::MainLoop& loop) : loop_(loop) {
  api_.userdata = this;
  api_.watch_new = watchNew;
  api_.watch_update = watchUpdate;
  api_.watch_get_events = watchGetEvents;
  api_.watch_free = watchFree;
  api_.timeout_new = timeoutNew;
  api_.timeout_update = timeoutUpdate;
  api_.timeout_free = timeoutFree;
}

MainLoopAvahiPoll::~MainLoopAvahiPoll() {
  while (!watches_.empty()) watchFree(*watches_.begin());
  while (!timeouts_.empty()) timeoutFree(*timeouts_.begin());
}

AvahiWatch* MainLoopAvahiPoll::watchNew(const AvahiPoll* api, int fd, AvahiWatchEvent events,
                                        AvahiWatchCallback callback, void* userdata) {
  auto* self = static_cast<MainLoopAvahiPoll*>(api->userdata);
  auto* watch = new AvahiWatch{self, fd, callback, userdata, AvahiWatchEvent(0), 0, 0};
  self->watches_.insert(watch);
  self->arm(watch, events);
  return watch;
}

void MainLoopAvahiPoll::watchUpdate(AvahiWatch* watch, AvahiWatchEvent events) { watch->owner->arm(watch, events); }

AvahiWatchEvent MainLoopAvahiPoll::watchGetEvents(AvahiWatch* watch) { return watch->happened; }

void MainLoopAvahiPoll::watchFree(AvahiWatch* watch) {
  MainLoopAvahiPoll* self = watch->owner;
  self->arm(watch, AvahiWatchEvent(0));
  self->watches_.erase(watch);
  delete watch;
}

// Only readiness to read or to write is asked of the loop. A hang-up or error shows as readable,
// and is reported as such: the reader then meets the end of file or the error itself (reporting
// AVAHI_WATCH_HUP on a guess would make D-Bus drop a healthy connection).
void MainLoopAvahiPoll::arm(AvahiWatch* watch, AvahiWatchEvent events) {
  bool wantRead = events & AVAHI_WATCH_IN;
  bool wantWrite = events & AVAHI_WATCH_OUT;
  if (!wantRead && watch->readable) {
    loop_.cancel(watch->readable);
    watch->readable = 0;
  }
  if (!wantWrite && watch->writable) {
    loop_.cancel(watch->writable);
    watch->writable = 0;
  }
  // The callback may free the watch: nothing touches it after the call.
  if (wantRead && !watch->readable) {
    watch->readable = loop_.watchReadable(watch->fd, [watch] {
      watch->happened = AVAHI_WATCH_IN;
      watch->callback(watch, watch->fd, AVAHI_WATCH_IN, watch->userdata);
    });
  }
  if (wantWrite && !watch->writable) {
    watch->writable = loop_.watchWritable(watch->fd, [watch] {
      watch->happened = AVAHI_WATCH_OUT;
      watch->callback(watch, watch->fd, AVAHI_WATCH_OUT, watch->userdata);
    });
  }
}

AvahiTimeout* MainLoopAvahiPoll::timeoutNew(const AvahiPoll* api, const struct timeval* due,
                                            AvahiTimeoutCallback callback, void* userdata) {
  auto* self = static_cast<MainLoopAvahiPoll*>(api->userdata);
  auto* timeout = new AvahiTimeout{self, callback, userdata, 0};
  self->timeouts_.insert(timeout);
  self->schedule(timeout, due);
  return timeout;
}

void MainLoopAvahiPoll::timeoutUpdate(AvahiTimeout* timeout, const struct timeval* due) {
  timeout->owner->schedule(timeout, due);
}

void MainLoopAvahiPoll::timeoutFree(AvahiTimeout* timeout) {
  MainLoopAvahiPoll* self = timeout->owner;
  self->schedule(timeout, nullptr);
  self->timeouts_.erase(timeout);
  delete timeout;
}

// avahi gives absolute times of the wall clock (gettimeofday); the loop wants an interval.
void MainLoopAvahiPoll::schedule(AvahiTimeout* timeout, const struct timeval* due) {
  if (timeout->timer) loop_.cancel(timeout->timer);
  timeout->timer = 0;
  if (!due) return;
  struct timeval now;
  ::gettimeofday(&now, nullptr);
  int64_t micros = (int64_t{due->tv_sec} - now.tv_sec) * 1000000 + (int64_t{due->tv_usec} - now.tv_usec);
  std::chrono::milliseconds wait(micros <= 0 ? 0 : (micros + 999) / 1000);
  // The callback may free or re-arm the time-out: it is marked idle first and not touched after.
  timeout->timer = loop_.addTimer(wait, false, [timeout] {
    timeout->timer = 0;
    timeout->callback(timeout, timeout->userdata);
  });
}

}  // namespace fotello
