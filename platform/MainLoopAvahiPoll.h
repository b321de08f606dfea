// avahi-client's event-loop interface (AvahiPoll) on loomkit's MainLoop: avahi's descriptor
// watches become the loop's readable and writable watches, its time-outs the loop's timers.
#pragma once

#include <avahi-common/watch.h>

#include <set>

#include "loomkit/shared/MainLoop.h"

namespace fotello {

// Main thread only: avahi calls it, and the loop calls avahi back, on the loop's thread. Every
// watch and time-out avahi made must be freed before the adapter (free the avahi client first);
// the loop must outlive it.
class MainLoopAvahiPoll {
 public:
  explicit MainLoopAvahiPoll(loomkit::MainLoop& loop);
  ~MainLoopAvahiPoll();
  MainLoopAvahiPoll(const MainLoopAvahiPoll&) = delete;
  MainLoopAvahiPoll& operator=(const MainLoopAvahiPoll&) = delete;

  // The table to hand to avahi_client_new().
  const AvahiPoll* api() const { return &api_; }

 private:
  static AvahiWatch* watchNew(const AvahiPoll* api, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                              void* userdata);
  static void watchUpdate(AvahiWatch* watch, AvahiWatchEvent events);
  static AvahiWatchEvent watchGetEvents(AvahiWatch* watch);
  static void watchFree(AvahiWatch* watch);
  static AvahiTimeout* timeoutNew(const AvahiPoll* api, const struct timeval* due, AvahiTimeoutCallback callback,
                                  void* userdata);
  static void timeoutUpdate(AvahiTimeout* timeout, const struct timeval* due);
  static void timeoutFree(AvahiTimeout* timeout);

  void arm(AvahiWatch* watch, AvahiWatchEvent events);
  void schedule(AvahiTimeout* timeout, const struct timeval* due);

  loomkit::MainLoop& loop_;
  AvahiPoll api_;
  // What avahi has not freed yet, released with the adapter should avahi have left any behind.
  std::set<AvahiWatch*> watches_;
  std::set<AvahiTimeout*> timeouts_;
};

}  // namespace fotello
