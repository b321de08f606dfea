#include "loomkit/io/NetMonitor.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/TestSupport.h"

namespace {

// A byte counter and clock the test moves by hand.
struct FakeHost {
  uint64_t bytesIn = 5000000;
  double now = 100.0;
  bool failing = false;

  std::unique_ptr<loomkit::NetMonitor> newMonitor() {
    return loomkit::NetMonitor::newMonitor(
        [this](uint64_t& in, uint64_t& out, loomkit::Error* error) {
          if (failing) return loomkit::setUnixError(error, EACCES, "sysctl: Permission denied");
          in = bytesIn;
          out = 0;
          return true;
        },
        [this] { return now; });
  }
  // Lets `bytes` arrive during `seconds`, then samples.
  double sampleAfter(loomkit::NetMonitor& monitor, uint64_t bytes, double seconds, double ownRate) {
    bytesIn += bytes;
    now += seconds;
    return monitor.sample(ownRate);
  }
};

}  // namespace

TEST(NetMonitorTest, ForeignTrafficAboveATenthOfTheOwnRateClosesTheThrottle) {
  struct Case {
    double ownRate;
    uint64_t bytes;  // received during one second
    bool over;
    const char* trace;
  };
  const Case cases[] = {
      // 1300 − 300 allowance = 1000 B/s against 10000 B/s: exactly 0.1 is not over.
      {10000, 1300, false, "sent: 10000.00BPS bytesIn: 1000 (1000.00BPS) ratio: 0.10 threshold: 0.10 interval: 1.00 "},
      {10000, 1400, true, "bytesIn: 1100 (1100.00BPS) ratio: 0.11 threshold: 0.10 interval: 1.00 : over threshold"},
      // 300 bytes or less count in full.
      {1000, 300, true, "bytesIn: 300 (300.00BPS) ratio: 0.30"},
      {1000, 301, false, "bytesIn: 1 (1.00BPS) ratio: 0.00"},
      {1000, 0, false, "bytesIn: 0 (0.00BPS) ratio: 0.00"},
      // Without an own rate nothing is ever over.
      {0, 1000000, false, "ratio: 0.00 threshold: 0.10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    FakeHost host;
    auto monitor = host.newMonitor();
    ASSERT_TRUE(monitor);
    fotello::test::LogCapture log;
    // The first sample has no previous one to compare with.
    EXPECT_EQ(monitor->sample(c.ownRate), 1.0);
    EXPECT_FALSE(log.contains("sent: "));
    double factor = host.sampleAfter(*monitor, c.bytes, 1.0, c.ownRate);
    EXPECT_TRUE(log.contains(c.trace)) << (log.lines().empty() ? "" : log.lines().back());
    EXPECT_EQ(log.contains(": over threshold"), c.over);
    EXPECT_EQ(factor, c.over ? 0.0 : 1.0);
    EXPECT_EQ(monitor->overThresholdTime(), c.over ? host.now : 0.0);
    EXPECT_EQ(monitor->currentSample().timeInterval, host.now);
    EXPECT_EQ(monitor->currentSample().rawBytesIn, host.bytesIn);
    EXPECT_EQ(monitor->previousSample().timeInterval, host.now - 1.0);
  }
}

TEST(NetMonitorTest, FactorClimbsBackOverThirtySeconds) {
  FakeHost host;
  auto monitor = host.newMonitor();
  ASSERT_TRUE(monitor);
  monitor->sample(1000);
  ASSERT_EQ(host.sampleAfter(*monitor, 100000, 1.0, 1000), 0.0);
  fotello::test::LogCapture log;
  EXPECT_DOUBLE_EQ(host.sampleAfter(*monitor, 0, 7.5, 1000), 0.25);
  EXPECT_TRUE(log.contains("throttle: 0.25"));
  EXPECT_DOUBLE_EQ(host.sampleAfter(*monitor, 0, 15.0, 1000), 0.75);
  EXPECT_EQ(host.sampleAfter(*monitor, 0, 7.5, 1000), 1.0);  // 30 s after the last time over
}

TEST(NetMonitorTest, CounterThatWentBackwardsOpensTheThrottle) {
  FakeHost host;
  auto monitor = host.newMonitor();
  ASSERT_TRUE(monitor);
  monitor->sample(1000);
  ASSERT_EQ(host.sampleAfter(*monitor, 100000, 1.0, 1000), 0.0);
  host.bytesIn = 10;  // an interface went away or its counters were reset
  host.now += 1.0;
  EXPECT_EQ(monitor->sample(1000), 1.0);
  EXPECT_EQ(monitor->currentSample().rawBytesIn, 10u);
  // The next sample compares with the reset value, not with a wrapped-around difference.
  fotello::test::LogCapture log;
  EXPECT_DOUBLE_EQ(host.sampleAfter(*monitor, 200, 1.0, 10000), 2.0 / 30);  // 2 s after being over
  EXPECT_TRUE(log.contains("bytesIn: 200 "));
  EXPECT_FALSE(log.contains(": over threshold"));
}

TEST(NetMonitorTest, UnreadableCountersGiveNoMonitorOrAnOpenThrottle) {
  fotello::test::LogCapture log(loomkit::Log::kError);
  FakeHost host;
  host.failing = true;
  EXPECT_FALSE(host.newMonitor());
  EXPECT_TRUE(log.contains("failed to get net stats: sysctl: Permission denied"));

  host.failing = false;
  auto monitor = host.newMonitor();
  ASSERT_TRUE(monitor);
  monitor->sample(1000);
  ASSERT_EQ(host.sampleAfter(*monitor, 100000, 1.0, 1000), 0.0);
  host.failing = true;
  log.clear();
  EXPECT_EQ(host.sampleAfter(*monitor, 0, 1.0, 1000), 1.0);
  EXPECT_EQ(log.count("failed to get net stats: sysctl: Permission denied"), 1u);
}

TEST(NetMonitorTest, SystemClockCountsFrom2001) {
  // 2001-01-01 00:00:00 UTC is 978307200 seconds after 1970.
  double expected = static_cast<double>(::time(nullptr)) - 978307200.0;
  EXPECT_NEAR(loomkit::NetMonitor::systemClock(), expected, 2.0);
}
