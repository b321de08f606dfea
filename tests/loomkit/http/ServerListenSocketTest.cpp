#include "loomkit/http/ServerListenSocket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "tests/loomkit/httpserver/HTTPTestPeers.h"
#include "tests/support/TestSupport.h"

using loomkit::Error;
using loomkit::ServerListenSocket;
using Clock = std::chrono::steady_clock;

TEST(ServerListenSocketTest, PortInUseFailsThenAnyPortIsChosenAndServes) {
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  ServerListenSocket holder(INADDR_LOOPBACK);
  int busyPort = 0;
  ASSERT_TRUE(holder.bindAndListenAtAnyPort(busyPort));
  EXPECT_GT(busyPort, 0);
  EXPECT_TRUE(log.contains(loomkit::strprintf("listening at port %d", busyPort)));

  ServerListenSocket socket(INADDR_LOOPBACK);
  Error error;
  EXPECT_FALSE(socket.bindAndListenAtPort(busyPort, &error));
  EXPECT_TRUE(error.is("UnixErrorDomain", EADDRINUSE)) << error.text();
  EXPECT_EQ(error.description(), "bind: " + loomkit::systemErrorText(EADDRINUSE));
  EXPECT_FALSE(socket.isOpen());
  EXPECT_EQ(socket.fd(), -1);

  int port = busyPort;
  ASSERT_TRUE(socket.bindAndListenAtPortOrAnyPort(port, &error)) << error.text();
  EXPECT_TRUE(log.contains(loomkit::strprintf("port %d was in use; binding at a random port", busyPort)));
  EXPECT_NE(port, busyPort);
  EXPECT_EQ(socket.port(), port);

  fotello::test::TestClient client(port);
  auto accepted = socket.acceptWithTimeout(5, &error);
  ASSERT_TRUE(accepted) << error.text();
  client.send("ping");
  char buffer[8];
  EXPECT_EQ(accepted->read(buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
}

TEST(ServerListenSocketTest, FreePortIsBoundAsAsked) {
  ServerListenSocket probe(INADDR_LOOPBACK);
  int port = 0;
  ASSERT_TRUE(probe.bindAndListenAtAnyPort(port));
  probe.close();  // now free, and address reuse lets it be bound again at once
  ServerListenSocket socket(INADDR_LOOPBACK);
  int wanted = port;
  ASSERT_TRUE(socket.bindAndListenAtPortOrAnyPort(wanted));
  EXPECT_EQ(wanted, port);
}

TEST(ServerListenSocketTest, AcceptWithoutClientTimesOutWithCodeOne) {
  ServerListenSocket socket(INADDR_LOOPBACK);
  int port = 0;
  ASSERT_TRUE(socket.bindAndListenAtAnyPort(port));
  Error error;
  auto start = Clock::now();
  EXPECT_FALSE(socket.acceptWithTimeout(1, &error));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(950));
  EXPECT_TRUE(error.is("ServerListenSocketErrorDomain", ServerListenSocket::kTimeoutErrorCode)) << error.text();
  EXPECT_EQ(error.description(), "accept timeout");
}
