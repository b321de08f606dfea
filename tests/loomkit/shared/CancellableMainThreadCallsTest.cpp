#include "loomkit/shared/CancellableMainThreadCalls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "loomkit/shared/PollMainLoop.h"

namespace loomkit {
namespace {

using namespace std::chrono_literals;

class CancellableMainThreadCallsTest : public ::testing::Test {
 protected:
  CancellableMainThreadCallsTest() { MainLoop::setMain(&loop_); }
  ~CancellableMainThreadCallsTest() override { MainLoop::setMain(nullptr); }
  PollMainLoop loop_;
  CancellableMainThreadCalls calls_;
};

TEST_F(CancellableMainThreadCallsTest, AWorkerWaitsForItsCallToRunOnTheMainThread) {
  std::atomic<bool> ranOnMain{false}, returned{false}, result{false};
  std::thread worker([&] {
    result = calls_.performAndWait([&] { ranOnMain = loop_.isMainThread(); });
    returned = true;
  });
  EXPECT_TRUE(loop_.runUntil([&] { return returned.load(); }, 5s));
  worker.join();
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(result);

  bool direct = false;
  EXPECT_TRUE(calls_.performAndWait([&] { direct = true; }));  // on the main thread: at once
  EXPECT_TRUE(direct);
}

TEST_F(CancellableMainThreadCallsTest, CancellingEndsAWaitAndTheCallNeverRuns) {
  std::atomic<bool> ran{false}, returned{false}, result{true};
  std::thread worker([&] {
    result = calls_.performAndWait([&] { ran = true; });
    returned = true;
  });
  // The main thread does not serve its loop (as when it is busy destroying the worker's owner).
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(returned);
  calls_.cancelAll();
  worker.join();
  EXPECT_FALSE(result);
  loop_.runUntil([] { return false; }, 100ms);  // the posted call, delivered late, does nothing
  EXPECT_FALSE(ran);

  bool later = false;
  EXPECT_FALSE(calls_.performAndWait([&] { later = true; }));
  EXPECT_FALSE(later);
  EXPECT_TRUE(calls_.cancelled());
}

}  // namespace
}  // namespace loomkit
