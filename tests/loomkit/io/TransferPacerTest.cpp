#include "loomkit/io/TransferPacer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "loomkit/io/ThrottleSettings.h"
#include "loomkit/shared/NotificationCenter.h"
#include "tests/support/TestSupport.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kChunk = 8192;

// Sets the throttle mode and rate for one test and restores the previous ones.
class ScopedThrottle {
 public:
  ScopedThrottle(int type, int kbps)
      : savedType_(loomkit::ThrottleSettings::throttleType()), savedKBPS_(loomkit::ThrottleSettings::throttleKBPS()) {
    loomkit::ThrottleSettings::setThrottleType(type);
    loomkit::ThrottleSettings::setThrottleKBPS(kbps);
  }
  ~ScopedThrottle() {
    loomkit::ThrottleSettings::setThrottleType(savedType_);
    loomkit::ThrottleSettings::setThrottleKBPS(savedKBPS_);
  }

 private:
  int savedType_, savedKBPS_;
};

// Counts the pause and resume notifications (delivered at once: no main loop is installed).
class PauseResumeCounter {
 public:
  PauseResumeCounter() {
    auto& center = loomkit::NotificationCenter::defaultCenter();
    pauseToken_ = center.addObserver("StreamsDidPause", [this](const loomkit::Notification&) { ++pauses; });
    resumeToken_ = center.addObserver("StreamsDidResume", [this](const loomkit::Notification&) { ++resumes; });
  }
  ~PauseResumeCounter() {
    loomkit::NotificationCenter::defaultCenter().removeObserver(pauseToken_);
    loomkit::NotificationCenter::defaultCenter().removeObserver(resumeToken_);
  }
  int pauses = 0, resumes = 0;

 private:
  loomkit::NotificationCenter::Token pauseToken_, resumeToken_;
};

// One step of the copy loop around a chunk that is "read" and "written" at once.
void copyChunk(loomkit::TransferPacer& pacer, uint64_t length = kChunk) {
  pacer.stepBegins();
  pacer.chunkRead();
  pacer.chunkWritten(length);
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

TEST(ThrottleSettingsTest, RateOfZeroOrLessStoresOne) {
  ScopedThrottle saved(loomkit::ThrottleSettings::kNone, 100);
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  const struct {
    int given, stored;
  } cases[] = {{-5, 1}, {0, 1}, {1, 1}, {250, 250}};
  for (const auto& c : cases) {
    loomkit::ThrottleSettings::setThrottleKBPS(c.given);
    EXPECT_EQ(loomkit::ThrottleSettings::throttleKBPS(), c.stored) << c.given;
    EXPECT_TRUE(log.contains("Streams throttle KBPS set to " + std::to_string(c.stored)));
  }
  loomkit::ThrottleSettings::setThrottleType(loomkit::ThrottleSettings::kFixedRate);
  EXPECT_EQ(loomkit::ThrottleSettings::throttleType(), 2);
  EXPECT_TRUE(log.contains("Streams throttleType set to 2"));
}

TEST(TransferPacerTest, ModeNonePostsOnlyOneResumeAtTheEnd) {
  ScopedThrottle none(loomkit::ThrottleSettings::kNone, 1);
  PauseResumeCounter counter;
  bool monitorMade = false;
  {
    loomkit::TransferPacer pacer([&] {
      monitorMade = true;
      return nullptr;
    });
    for (int i = 0; i < 50; ++i) copyChunk(pacer);
    EXPECT_EQ(counter.resumes, 0);
  }
  EXPECT_EQ(counter.pauses, 0);
  EXPECT_EQ(counter.resumes, 1);
  EXPECT_FALSE(monitorMade);  // mode none never reads the network counters
}

TEST(TransferPacerTest, FixedRateHoldsEachChunkToItsShare) {
  ScopedThrottle fixed(loomkit::ThrottleSettings::kFixedRate, 1000);
  PauseResumeCounter counter;
  auto start = Clock::now();
  {
    loomkit::TransferPacer pacer;
    for (int i = 0; i < 20; ++i) copyChunk(pacer);
  }
  // 20 × 8192 bytes at 1,000,000 bytes per second.
  EXPECT_GE(secondsSince(start), 20 * kChunk / 1e6 - 0.005);
  EXPECT_EQ(counter.pauses, 0);
  EXPECT_EQ(counter.resumes, 1);
}

TEST(TransferPacerTest, AutomaticModePausesWhileForeignTrafficArrives) {
  ScopedThrottle automatic(loomkit::ThrottleSettings::kAutomatic, 100);
  uint64_t bytesIn = 1000;
  double monitorClock = 100.0;
  int counterReads = 0;
  PauseResumeCounter counter;
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  {
    loomkit::TransferPacer pacer([&] {
      return loomkit::NetMonitor::newMonitor(
          [&](uint64_t& in, uint64_t& out, loomkit::Error*) {
            ++counterReads;
            in = bytesIn;
            out = 0;
            return true;
          },
          [&] { return monitorClock; });
    });
    copyChunk(pacer);  // the first sample only primes the monitor
    EXPECT_EQ(counterReads, 2);  // the monitor's check at creation, then the sample
    EXPECT_EQ(counter.pauses, 0);

    // The second step samples again at once and finds a flood of foreign bytes.
    bytesIn += 1000000000000000ull;
    monitorClock += 1.0;
    auto start = Clock::now();
    copyChunk(pacer);
    EXPECT_EQ(counterReads, 3);
    EXPECT_EQ(counter.pauses, 1);
    EXPECT_TRUE(log.contains("throttled"));
    EXPECT_GE(secondsSince(start), 0.45);  // a closed throttle rests 0.5 s per step

    // After the rest the next step samples: 31 quiet seconds later the throttle is open again.
    monitorClock += 31.0;
    copyChunk(pacer);
    EXPECT_EQ(counterReads, 4);
    EXPECT_EQ(counter.resumes, 1);
    EXPECT_TRUE(log.contains("throttle open"));

    copyChunk(pacer);  // within 0.5 s of the last sample: no new one
    EXPECT_EQ(counterReads, 4);
  }
  EXPECT_EQ(counter.pauses, 1);
  EXPECT_EQ(counter.resumes, 2);
}

TEST(TransferPacerTest, AutomaticModeWithoutAMonitorRestsEveryStep) {
  ScopedThrottle automatic(loomkit::ThrottleSettings::kAutomatic, 100);
  PauseResumeCounter counter;
  int factoryCalls = 0;
  auto start = Clock::now();
  {
    loomkit::TransferPacer pacer([&] {
      ++factoryCalls;
      return nullptr;
    });
    copyChunk(pacer);
    copyChunk(pacer);
  }
  EXPECT_GE(secondsSince(start), 0.9);
  EXPECT_EQ(factoryCalls, 1);
  EXPECT_EQ(counter.pauses, 1);
  EXPECT_EQ(counter.resumes, 1);
}
