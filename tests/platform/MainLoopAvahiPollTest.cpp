#include "platform/MainLoopAvahiPoll.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>

#include "loomkit/shared/PollMainLoop.h"

using namespace std::chrono_literals;

namespace {

struct timeval fromNow(std::chrono::milliseconds delay) {
  struct timeval now;
  ::gettimeofday(&now, nullptr);
  int64_t micros = int64_t{now.tv_sec} * 1000000 + now.tv_usec + delay.count() * 1000;
  return {static_cast<time_t>(micros / 1000000), static_cast<suseconds_t>(micros % 1000000)};
}

class MainLoopAvahiPollTest : public ::testing::Test {
 protected:
  MainLoopAvahiPollTest() { EXPECT_EQ(::pipe2(fds_, O_NONBLOCK), 0); }
  ~MainLoopAvahiPollTest() override {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  void settle() { loop_.runUntil([] { return false; }, 50ms); }

  loomkit::PollMainLoop loop_;
  fotello::MainLoopAvahiPoll poll_{loop_};
  const AvahiPoll* api_ = poll_.api();
  int fds_[2];
};

struct WatchLog {
  const AvahiPoll* api;
  int calls = 0;
  AvahiWatchEvent lastEvent = AvahiWatchEvent(0);
  AvahiWatchEvent reported = AvahiWatchEvent(0);
  bool freeOnCall = false;
};

void onWatch(AvahiWatch* watch, int fd, AvahiWatchEvent event, void* userdata) {
  auto* log = static_cast<WatchLog*>(userdata);
  ++log->calls;
  log->lastEvent = event;
  log->reported = log->api->watch_get_events(watch);
  char byte;
  while (::read(fd, &byte, 1) == 1) {
  }
  if (log->freeOnCall) log->api->watch_free(watch);
}

TEST_F(MainLoopAvahiPollTest, WatchesReportReadinessAsAsked) {
  WatchLog reads{api_};
  AvahiWatch* reader = api_->watch_new(api_, fds_[0], AVAHI_WATCH_IN, onWatch, &reads);
  ASSERT_NE(reader, nullptr);
  settle();
  EXPECT_EQ(reads.calls, 0) << "an empty pipe is not readable";
  ASSERT_EQ(::write(fds_[1], "x", 1), 1);
  ASSERT_TRUE(loop_.runUntil([&] { return reads.calls == 1; }, 2s));
  EXPECT_EQ(reads.lastEvent, AVAHI_WATCH_IN);
  EXPECT_EQ(reads.reported, AVAHI_WATCH_IN);

  // Updated to no events, the watch is quiet; to output, it reports the writable end.
  api_->watch_update(reader, AvahiWatchEvent(0));
  ASSERT_EQ(::write(fds_[1], "y", 1), 1);
  settle();
  EXPECT_EQ(reads.calls, 1);
  api_->watch_free(reader);

  WatchLog writes{api_};
  writes.freeOnCall = true;  // freeing a watch inside its own callback is allowed
  api_->watch_new(api_, fds_[1], AVAHI_WATCH_OUT, onWatch, &writes);
  ASSERT_TRUE(loop_.runUntil([&] { return writes.calls == 1; }, 2s));
  EXPECT_EQ(writes.lastEvent, AVAHI_WATCH_OUT);
  settle();
  EXPECT_EQ(writes.calls, 1);
}

struct TimeoutLog {
  const AvahiPoll* api;
  int calls = 0;
  std::chrono::steady_clock::time_point firedAt{};
  int rearmTimes = 0;
};

void onTimeout(AvahiTimeout* timeout, void* userdata) {
  auto* log = static_cast<TimeoutLog*>(userdata);
  ++log->calls;
  log->firedAt = std::chrono::steady_clock::now();
  if (log->rearmTimes-- > 0) {
    struct timeval due = fromNow(10ms);
    log->api->timeout_update(timeout, &due);
  }
}

TEST_F(MainLoopAvahiPollTest, TimeoutsFireOnceAtTheirAbsoluteTime) {
  TimeoutLog log{api_};
  auto started = std::chrono::steady_clock::now();
  struct timeval due = fromNow(80ms);
  AvahiTimeout* timeout = api_->timeout_new(api_, &due, onTimeout, &log);
  ASSERT_TRUE(loop_.runUntil([&] { return log.calls == 1; }, 2s));
  EXPECT_GE(log.firedAt - started, 79ms);
  settle();
  EXPECT_EQ(log.calls, 1) << "a time-out that fired stays off until updated";

  // Re-armed from inside its callback, it fires again; disabled with NULL, it does not.
  log.rearmTimes = 1;
  struct timeval past = fromNow(-1000ms);
  api_->timeout_update(timeout, &past);
  ASSERT_TRUE(loop_.runUntil([&] { return log.calls == 3; }, 2s));
  due = fromNow(20ms);
  api_->timeout_update(timeout, &due);
  api_->timeout_update(timeout, nullptr);
  settle();
  EXPECT_EQ(log.calls, 3);
  api_->timeout_free(timeout);

  TimeoutLog never{api_};
  AvahiTimeout* disabled = api_->timeout_new(api_, nullptr, onTimeout, &never);
  due = fromNow(10ms);
  AvahiTimeout* freed = api_->timeout_new(api_, &due, onTimeout, &never);
  api_->timeout_free(freed);
  settle();
  EXPECT_EQ(never.calls, 0);
  api_->timeout_free(disabled);
}

}  // namespace
