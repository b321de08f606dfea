#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "loomkit/shared/NotificationCenter.h"
#include "loomkit/shared/PollMainLoop.h"

using namespace std::chrono_literals;

TEST(PollMainLoopTest, PostAndPerformAndWaitRunOnTheMainThread) {
  loomkit::PollMainLoop loop;
  std::atomic<int> ran{0};
  std::thread::id mainId = std::this_thread::get_id();
  std::thread worker([&] {
    EXPECT_FALSE(loop.isMainThread());
    loop.post([&] { EXPECT_EQ(std::this_thread::get_id(), mainId); ran++; });
    loop.performAndWait([&] { EXPECT_TRUE(loop.isMainThread()); ran++; });
    // performAndWait returns only after its work ran, and post work queued before it ran first.
    EXPECT_EQ(ran.load(), 2);
    loop.quit(7);
  });
  EXPECT_EQ(loop.run(), 7);
  worker.join();
}

TEST(PollMainLoopTest, TimersAndWatches) {
  loomkit::PollMainLoop loop;
  int repeats = 0, once = 0;
  auto repeating = loop.addTimer(20ms, true, [&] { ++repeats; });
  loop.addTimer(10ms, false, [&] { ++once; });
  auto cancelled = loop.addTimer(10ms, false, [&] { ADD_FAILURE() << "cancelled timer fired"; });
  loop.cancel(cancelled);
  EXPECT_TRUE(loop.runUntil([&] { return repeats >= 3; }, 2s));
  loop.cancel(repeating);
  EXPECT_EQ(once, 1);

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int readable = 0;
  auto watch = loop.watchReadable(fds[0], [&] {
    char c;
    if (::read(fds[0], &c, 1) == 1) ++readable;
  });
  std::thread writer([&] { ASSERT_EQ(::write(fds[1], "ab", 2), 2); });
  EXPECT_TRUE(loop.runUntil([&] { return readable == 2; }, 2s));
  writer.join();
  loop.cancel(watch);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(PollMainLoopTest, WritableWatchFiresOnlyWhileThePipeHasRoom) {
  loomkit::PollMainLoop loop;
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
  char block[4096] = {};
  while (::write(fds[1], block, sizeof block) > 0) {
  }
  int writable = 0;
  auto watch = loop.watchWritable(fds[1], [&] { ++writable; });
  loop.runUntil([] { return false; }, 50ms);
  EXPECT_EQ(writable, 0) << "a full pipe is not writable";
  while (::read(fds[0], block, sizeof block) > 0) {
  }
  EXPECT_TRUE(loop.runUntil([&] { return writable > 0; }, 2s));
  loop.cancel(watch);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(NotificationCenterTest, MainThreadDeliveryAndRemoval) {
  loomkit::PollMainLoop loop;
  loomkit::MainLoop::setMain(&loop);
  loomkit::NotificationCenter center;
  int seen = 0;
  std::any port;
  auto token = center.addObserver("serverThreadDidBindAndListen", [&](const loomkit::Notification& n) {
    EXPECT_TRUE(loop.isMainThread());
    port = n.userInfo.at("port");
    ++seen;
  });
  center.addObserver("other", [&](const loomkit::Notification&) { ADD_FAILURE(); });
  std::thread worker([&] { center.postOnMainThread({"serverThreadDidBindAndListen", {{"port", 17600}}}); });
  worker.join();
  EXPECT_EQ(seen, 0);  // not delivered on the posting thread
  EXPECT_TRUE(loop.runUntil([&] { return seen == 1; }, 2s));
  EXPECT_EQ(std::any_cast<int>(port), 17600);
  center.removeObserver(token);
  center.post({"serverThreadDidBindAndListen", {}});
  EXPECT_EQ(seen, 1);
  loomkit::MainLoop::setMain(nullptr);
}
