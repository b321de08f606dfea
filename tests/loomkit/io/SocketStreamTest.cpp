#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "loomkit/io/SocketInputStream.h"
#include "loomkit/io/SocketOutputStream.h"
#include "loomkit/shared/Format.h"
#include "tests/support/LoopbackTcp.h"
#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using fotello::test::ScopedReadTimeout;

// A connected AF_UNIX stream pair, closed on destruction.
struct SocketPair {
  int fds[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
  ~SocketPair() {
    for (int fd : fds) if (fd >= 0) ::close(fd);
  }
  void closePeer() {
    ::close(fds[1]);
    fds[1] = -1;
  }
};

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

TEST(SocketInputStreamTest, SilentPeerTimesOutAfterTheProcessReadTimeout) {
  fotello::test::LogCapture log(loomkit::Log::kInfo);
  ScopedReadTimeout timeout(1);
  EXPECT_TRUE(log.contains("network read timeout set to 1 seconds"));
  fotello::test::LoopbackTcpPair tcp;
  loomkit::SocketInputStream in(tcp.client());
  char buffer[16];
  loomkit::Error error;
  auto start = Clock::now();
  EXPECT_EQ(in.read(buffer, sizeof buffer, &error), -1);
  EXPECT_GE(secondsSince(start), 0.9);
  EXPECT_TRUE(error.is("InputStreamErrorDomain", -11)) << error.text();
  EXPECT_EQ(error.description(), "recv timeout");
}

TEST(SocketInputStreamTest, ReadsWhatArrivedThenZeroOnceThePeerClosed) {
  SocketPair pair;
  loomkit::SocketInputStream in(pair.fds[0]);
  EXPECT_EQ(in.description(), loomkit::strprintf("<SocketInputStream: fd=%d>", pair.fds[0]));
  ASSERT_EQ(::write(pair.fds[1], "abcdef", 6), 6);
  pair.closePeer();
  char buffer[4];
  EXPECT_EQ(in.read(buffer, sizeof buffer), 4);  // never more than the capacity
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(in.read(buffer, sizeof buffer), 2);
  EXPECT_EQ(in.read(buffer, sizeof buffer), 0);
  auto all = in.slurp();
  ASSERT_TRUE(all);
  EXPECT_TRUE(all->empty());
}

TEST(SocketInputStreamTest, TimeoutOfZeroOrLessWaitsWithoutLimit) {
  for (int64_t seconds : {0, -1}) {
    SCOPED_TRACE(seconds);
    ScopedReadTimeout timeout(seconds);
    SocketPair pair;
    loomkit::SocketInputStream in(pair.fds[0]);
    std::thread late([&] {
      std::this_thread::sleep_for(300ms);
      ASSERT_EQ(::write(pair.fds[1], "x", 1), 1);
    });
    char c = 0;
    loomkit::Error error;
    auto start = Clock::now();
    EXPECT_EQ(in.read(&c, 1, &error), 1) << error.text();
    EXPECT_GE(secondsSince(start), 0.25);
    EXPECT_EQ(c, 'x');
    late.join();
  }
}

TEST(SocketInputStreamTest, SignalDuringTheWaitRestartsIt) {
  struct sigaction action {}, saved{};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the wait itself sees EINTR
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &saved), 0);
  ScopedReadTimeout timeout(5);
  SocketPair pair;
  loomkit::SocketInputStream in(pair.fds[0]);
  pthread_t reader = ::pthread_self();
  std::thread other([&] {
    std::this_thread::sleep_for(150ms);
    ::pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(150ms);
    ASSERT_EQ(::write(pair.fds[1], "y", 1), 1);
  });
  char c = 0;
  loomkit::Error error;
  EXPECT_EQ(in.read(&c, 1, &error), 1) << error.text();
  EXPECT_EQ(c, 'y');
  other.join();
  ::sigaction(SIGUSR1, &saved, nullptr);
}

TEST(SocketInputStreamTest, ResetConnectionIsARecvError) {
  fotello::test::LoopbackTcpPair tcp;
  tcp.resetFromServer();
  loomkit::SocketInputStream in(tcp.client());
  char buffer[16];
  loomkit::Error error;
  EXPECT_EQ(in.read(buffer, sizeof buffer, &error), -1);
  EXPECT_TRUE(error.is(loomkit::kUnixErrorDomain, ECONNRESET)) << error.text();
  EXPECT_EQ(error.description(), "recv: " + loomkit::systemErrorText(ECONNRESET));
}

TEST(SocketOutputStreamTest, SendsAndCountsBytes) {
  fotello::test::LoopbackTcpPair tcp;
  loomkit::SocketOutputStream out(tcp.client());
  EXPECT_EQ(out.description(), loomkit::strprintf("<SocketOutputStream: fd=%d>", tcp.client()));
  EXPECT_EQ(loomkit::SocketOutputStream::errorDomain(), "SocketOutputStreamErrorDomain");
  EXPECT_EQ(out.write("hello", 5), 5);
  EXPECT_EQ(out.write(" world", 6), 6);
  EXPECT_EQ(out.bytesWritten(), 11u);
  ::shutdown(tcp.client(), SHUT_WR);
  loomkit::SocketInputStream in(tcp.server());
  auto received = in.slurp();
  ASSERT_TRUE(received);
  EXPECT_EQ(loomkit::textOf(*received), "hello world");
}

TEST(SocketOutputStreamTest, WriteToAResetConnectionFailsWithoutASignal) {
  // The default disposition would end the test process if a send raised SIGPIPE.
  auto savedDisposition = ::signal(SIGPIPE, SIG_DFL);
  fotello::test::LoopbackTcpPair tcp;
  tcp.resetFromServer();
  loomkit::SocketOutputStream out(tcp.client());
  std::string chunk(8192, 'z');
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    loomkit::Error error;
    EXPECT_EQ(out.write(chunk.data(), chunk.size(), &error), -1);
    EXPECT_EQ(error.domain(), "UnixErrorDomain");
    EXPECT_TRUE(error.code() == EPIPE || error.code() == ECONNRESET) << error.text();
    EXPECT_EQ(error.description(), "write: " + loomkit::systemErrorText(static_cast<int>(error.code())));
  }
  EXPECT_EQ(out.bytesWritten(), 0u);
  ::signal(SIGPIPE, savedDisposition);
}
