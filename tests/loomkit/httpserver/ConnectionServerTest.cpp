#include "loomkit/httpserver/ConnectionServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "tests/loomkit/httpserver/HTTPTestPeers.h"
#include "tests/support/TestSupport.h"

using fotello::test::RecordingHandler;
using fotello::test::TestClient;
using fotello::test::TestServer;
using Clock = std::chrono::steady_clock;

namespace {

// The body of RecordingHandler's answer to a request, as a whole response.
std::string answer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: keep-alive\r\n\r\n" + body;
}

bool hasErrorLine(const fotello::test::LogCapture& log) { return log.contains("ERROR [thread "); }

TEST(ConnectionServerTest, RequestsOnOneConnectionAreAnsweredInOrderAlsoWhenSentTogether) {
  RecordingHandler handler;
  TestServer server(handler);
  TestClient client(server.port());
  client.get("/status?x=1", "X-QV-Version: 2\r\n");
  EXPECT_EQ(client.readResponse(), answer("GET /status?x=1 1.1 host=test x-qv-version=2"));
  client.get("/iconimage");
  EXPECT_EQ(client.readResponse(), answer("GET /iconimage 1.1 host=test"));

  client.send("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.0\r\n\r\n");
  EXPECT_EQ(client.readResponse(), answer("GET /a 1.1"));
  EXPECT_EQ(client.readResponse(), answer("GET /b 1.0"));
  EXPECT_EQ(server.server().connectionCount(), 1);
  // Connection threads get the small stack (a thread sanitizer adds its own share), not the
  // system's default of 8 MiB.
  EXPECT_GE(handler.stackSize(), 256u * 1024);
  EXPECT_LT(handler.stackSize(), 1024u * 1024);
}

TEST(ConnectionServerTest, SilentClientsAreCutAfterTheReadTimeout) {
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  fotello::test::ScopedReadTimeout timeout(1);
  RecordingHandler handler;
  TestServer server(handler);
  TestClient silent(server.port());
  TestClient stalled(server.port());
  stalled.send("GET /status HTTP/1.1\r\nX-QV-");  // and nothing more
  auto start = Clock::now();
  EXPECT_TRUE(silent.closedByServer());
  EXPECT_TRUE(stalled.closedByServer());
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_TRUE(server.waitForConnectionCount(0));
  EXPECT_EQ(handler.ended, 2);
  EXPECT_FALSE(hasErrorLine(log));  // time-outs are routine
  EXPECT_EQ(log.count("closing connection"), 2u);
}

TEST(ConnectionServerTest, ClientEndIsRoutineButAMalformedRequestIsAnErrorThatEndsTheConnection) {
  fotello::test::LogCapture log(loomkit::Log::kDebug);
  RecordingHandler handler;
  TestServer server(handler);
  {
    TestClient leaving(server.port());
    leaving.get("/status");
    EXPECT_FALSE(leaving.readResponse().empty());
  }
  ASSERT_TRUE(server.waitForConnectionCount(0));
  EXPECT_TRUE(log.contains("EOF while processing connection"));
  EXPECT_FALSE(hasErrorLine(log));

  TestClient wrong(server.port());
  wrong.send("GET /status HTTP/2.0\r\n\r\n");
  EXPECT_TRUE(wrong.closedByServer());
  EXPECT_TRUE(server.waitForConnectionCount(0));
  EXPECT_TRUE(log.contains("error processing connection: invalid response line: GET /status HTTP/2.0"));
}

TEST(ConnectionServerTest, FloodOfIdleConnectionsCannotLockOutOtherPeers) {
  fotello::test::LogCapture log(loomkit::Log::kWarn);
  RecordingHandler handler;
  TestServer server(handler, {.maxConnections = 50});
  // Peers on another host, connected and idle between their requests.
  std::vector<std::unique_ptr<TestClient>> peers;
  for (int i = 0; i < 5; ++i) peers.push_back(std::make_unique<TestClient>(server.port(), "127.0.0.2"));
  // One host opens far more idle connections than the limit, in batches that stay within the
  // listening backlog (beyond it the system itself would hold arrivals back for a second).
  std::vector<std::unique_ptr<TestClient>> flood;
  for (int i = 0; i < 200; ++i) {
    flood.push_back(std::make_unique<TestClient>(server.port()));
    if (i % 50 == 49) {
      ASSERT_TRUE(handler.waitUntilStarted(5 + i + 1));
    }
  }

  TestClient latecomer(server.port());  // a well-behaved client of the flooding host itself
  latecomer.get("/status");
  EXPECT_EQ(latecomer.readResponse(), answer("GET /status 1.1 host=test"));
  for (auto& peer : peers) {
    peer->get("/albumdata");
    EXPECT_EQ(peer->readResponse(), answer("GET /albumdata 1.1 host=test"));
  }
  EXPECT_LE(server.server().connectionCount(), 50);
  EXPECT_TRUE(flood.front()->closedByServer());  // the longest idle ones made room
  EXPECT_EQ(log.count("connection limit of 50 reached; closing idle connections to make room"), 1u);
  EXPECT_FALSE(hasErrorLine(log));

  flood.clear();
  peers.clear();
  EXPECT_TRUE(server.waitForConnectionCount(1));  // the latecomer's
}

TEST(ConnectionServerTest, BusyConnectionsAreNotClosedForRoomAndANewcomerIsRefused) {
  RecordingHandler handler;
  TestServer server(handler, {.maxConnections = 2});
  handler.hold();
  TestClient first(server.port());
  TestClient second(server.port());
  first.get("/fullsize");
  second.get("/fullsize");
  ASSERT_TRUE(handler.waitUntilHolding(2));
  TestClient third(server.port());
  EXPECT_TRUE(third.closedByServer());  // after waiting a second for room
  handler.release();
  EXPECT_EQ(first.readResponse(), answer("GET /fullsize 1.1 host=test"));
  EXPECT_EQ(second.readResponse(), answer("GET /fullsize 1.1 host=test"));
}

}  // namespace
