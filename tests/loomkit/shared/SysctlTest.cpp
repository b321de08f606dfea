#include "loomkit/shared/Sysctl.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>
#include <thread>

#include "loomkit/shared/Format.h"
#include "tests/support/LoopbackTcp.h"
#include "tests/support/TestSupport.h"

namespace {

const char* const kHeader =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
    "carrier compressed\n";

}  // namespace

TEST(SysctlTest, SumsTheByteCountersOfEveryInterface) {
  struct Case {
    const char* name;
    std::string text;
    uint64_t in, out;
  };
  const Case cases[] = {
      {"no interfaces", kHeader, 0, 0},
      {"idle interfaces", std::string(kHeader) +
                              "    lo:       0       0    0    0    0     0          0         0        0       0    0    0    0     0       0          0\n",
       0, 0},
      // Counters beyond 32 bits, and a line cut short that adds nothing.
      {"busy interfaces", std::string(kHeader) +
                              "    lo:    3267      29    0    0    0     0          0         0     3267      29    0    0    0     0       0          0\n"
                              "  eth0:12884901888 9999999999 0 0 0 0 0 7 8589934592 1276 0 0 0 0 0 0\n"
                              "  bad0: 1 2 3\n",
       3267 + 12884901888ull, 3267 + 8589934592ull},
  };
  fotello::test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fotello::test::writeFile(dir.file("dev"), c.text);
    uint64_t in = 1, out = 1;
    loomkit::Error error;
    ASSERT_TRUE(loomkit::Sysctl::networkBytesInFromFile(dir.file("dev"), in, out, &error)) << error.text();
    EXPECT_EQ(in, c.in);
    EXPECT_EQ(out, c.out);
  }
}

TEST(SysctlTest, UnreadableStatisticsAreAUnixError) {
  fotello::test::TempDir dir;
  uint64_t in, out;
  loomkit::Error error;
  EXPECT_FALSE(loomkit::Sysctl::networkBytesInFromFile(dir.file("missing"), in, out, &error));
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ENOENT)) << error.text();
  EXPECT_EQ(error.description(), "sysctl: " + loomkit::systemErrorText(ENOENT));
}

TEST(SysctlTest, LoopbackTrafficShowsInTheSystemTotals) {
  uint64_t inBefore = 0, outBefore = 0, inAfter = 0, outAfter = 0;
  loomkit::Error error;
  ASSERT_TRUE(loomkit::Sysctl::networkBytesIn(inBefore, outBefore, &error)) << error.text();
  fotello::test::LoopbackTcpPair tcp;
  std::string block(65536, 'n');
  std::thread sender([&] { ASSERT_EQ(::send(tcp.client(), block.data(), block.size(), 0), ssize_t(block.size())); });
  size_t received = 0;
  char buffer[8192];
  while (received < block.size()) {
    ssize_t n = ::recv(tcp.server(), buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    received += static_cast<size_t>(n);
  }
  sender.join();
  ASSERT_TRUE(loomkit::Sysctl::networkBytesIn(inAfter, outAfter, &error)) << error.text();
  EXPECT_GE(inAfter - inBefore, block.size());
  EXPECT_GE(outAfter - outBefore, block.size());
}
