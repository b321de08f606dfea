#include "loomkit/http/HTTPConnectionFactory.h"

#include <gtest/gtest.h>

#include <thread>

#include "loomkit/http/RFC2616DateFormatter.h"
#include "tests/loomkit/http/ClientTestServer.h"
#include "tests/support/TestSupport.h"

using fotello::test::ScriptedAnswer;
using fotello::test::ScriptedServer;
using loomkit::HTTPConnectionFactory;
using loomkit::URLConnection;
using Clock = std::chrono::steady_clock;

namespace {

size_t entriesFor(const HTTPConnectionFactory& factory, std::thread::id thread) {
  size_t n = 0;
  for (const auto& entry : factory.entries()) n += entry.thread == thread;
  return n;
}

TEST(HTTPConnectionFactoryTest, TheProcessFactoryKeepsEntriesTwentySecondsAndCleansUpEveryFive) {
  EXPECT_EQ(HTTPConnectionFactory::theFactory().settings().maxConnectionLifetime, 20.0);
  EXPECT_EQ(HTTPConnectionFactory::theFactory().settings().cleanupInterval, 5.0);
  EXPECT_EQ(&HTTPConnectionFactory::theFactory(), &HTTPConnectionFactory::theFactory());
  EXPECT_EQ(HTTPConnectionFactory::keyFor("http://[fe80::1%eth0]:17600/status", "GET"), "GET http://fe80::1%eth0:17600");
  EXPECT_EQ(HTTPConnectionFactory::keyFor("http://10.0.0.2/x", "GET"), "GET http://10.0.0.2:80");
}

TEST(HTTPConnectionFactoryTest, EntriesArePerThreadAndKeyAndReplacedByTheNextRequest) {
  fotello::test::LogCapture log;
  HTTPConnectionFactory factory(HTTPConnectionFactory::Settings{20.0, 5.0});
  auto first = factory.newHTTPConnectionToURL("http://127.0.0.1:9/status", "GET");
  auto second = factory.newHTTPConnectionToURL("http://127.0.0.1:9/albumdata", "GET");  // same key
  auto other = factory.newHTTPConnectionToURL("http://127.0.0.2:9/status", "GET");
  std::shared_ptr<URLConnection> elsewhere;
  std::thread([&] { elsewhere = factory.newHTTPConnectionToURL("http://127.0.0.1:9/status", "GET"); }).join();

  auto entries = factory.entries();
  ASSERT_EQ(entries.size(), 3u);
  for (const auto& entry : entries) {
    if (entry.key == "GET http://127.0.0.1:9" && entry.thread == std::this_thread::get_id()) {
      EXPECT_EQ(entry.connection, second);
    } else if (entry.key == "GET http://127.0.0.1:9") {
      EXPECT_EQ(entry.connection, elsewhere);
    } else {
      EXPECT_EQ(entry.key, "GET http://127.0.0.2:9");
      EXPECT_EQ(entry.connection, other);
    }
  }
  EXPECT_EQ(log.count("saving new connection"), 3u);
  EXPECT_EQ(log.count("found connection"), 1u);
  EXPECT_EQ(second->creatorThread(), std::this_thread::get_id());

  // A failed request object is not found again.
  loomkit::Error error;
  EXPECT_FALSE(second->executeRequest(&error));  // nothing listens on port 9
  EXPECT_TRUE(second->errorOccurred());
  auto third = factory.newHTTPConnectionToURL("http://127.0.0.1:9/status", "GET");
  EXPECT_EQ(log.count("removing connection"), 1u);
  EXPECT_EQ(entriesFor(factory, std::this_thread::get_id()), 2u);
}

TEST(HTTPConnectionFactoryTest, OldEntriesAreDroppedWithinOneCleanUpTurnAfterTheirLifetime) {
  // The process factory's 20 s and 5 s, scaled down by 10.
  HTTPConnectionFactory factory(HTTPConnectionFactory::Settings{2.0, 0.5});
  ScriptedServer server;
  server.handler.route("/status", ScriptedAnswer::answer(200, "ok"));
  auto request = factory.newHTTPConnectionToURL(server.url("/status"), "GET");
  ASSERT_TRUE(request->executeRequest());
  std::weak_ptr<URLConnection> pooled = request;
  request.reset();
  // Within the lifetime the entry is found again, with its connection.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto made = Clock::now();
  auto again = factory.newHTTPConnectionToURL(server.url("/status"), "GET");
  ASSERT_TRUE(again->executeRequest());
  EXPECT_TRUE(again->reusedConnection());
  EXPECT_TRUE(pooled.expired());  // replaced
  std::weak_ptr<URLConnection> latest = again;
  again.reset();
  while (!latest.expired() && Clock::now() - made < std::chrono::seconds(10)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const double gone = std::chrono::duration<double>(Clock::now() - made).count();
  EXPECT_TRUE(latest.expired());
  EXPECT_TRUE(factory.entries().empty());
  // Older than the lifetime from 2 s on, dropped at the next turn (every 0.5 s); a busy machine
  // may add a little.
  EXPECT_GE(gone, 2.0);
  EXPECT_LE(gone, 2.0 + 0.5 + 0.5);
}

TEST(RFC2616DateFormatterTest, FormatsAndParsesHTTPDatesInGMT) {
  loomkit::RFC2616DateFormatter formatter;
  EXPECT_EQ(formatter.stringFromDate(0), "Mon, 01 Jan 2001 00:00:00 GMT");
  EXPECT_EQ(formatter.stringFromDate(-194195423.0), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(formatter.dateFromString("Sun, 06 Nov 1994 08:49:37 GMT"), -194195423.0);
  EXPECT_FALSE(formatter.dateFromString("yesterday"));
}

}  // namespace
