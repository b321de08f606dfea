#include "loomkit/http/URLConnection.h"

#include <gtest/gtest.h>

#include <thread>

#include "loomkit/http/HTTPConnectionFactory.h"
#include "loomkit/io/DataOutputStream.h"
#include "loomkit/io/Gzip.h"
#include "tests/loomkit/http/ClientTestServer.h"

using fotello::test::ScriptedAnswer;
using fotello::test::ScriptedServer;
using loomkit::Error;
using loomkit::HTTPConnectionFactory;
using loomkit::URLConnection;

namespace {

std::string slurpText(loomkit::InputStream& stream) {
  auto bytes = stream.slurp();
  return bytes ? std::string(loomkit::textOf(*bytes)) : "(read failed)";
}

// The body of a GET of url through the factory, or the error's text.
struct Fetched {
  std::shared_ptr<URLConnection> connection;
  std::optional<std::string> body;
  Error error;
};
Fetched fetch(HTTPConnectionFactory& factory, const std::string& url) {
  Fetched f;
  f.connection = factory.newHTTPConnectionToURL(url, "GET");
  f.connection->setRequestHeader("2", "X-QV-Version");
  std::unique_ptr<loomkit::InputStream> body = f.connection->executeRequest(&f.error);
  if (body) f.body = slurpText(*body);
  return f;
}

class URLConnectionTest : public ::testing::Test {
 protected:
  ScriptedServer server;
  HTTPConnectionFactory factory{HTTPConnectionFactory::Settings{}};
};

TEST_F(URLConnectionTest, ConsecutiveRequestsReuseOneConnectionAndSendTheHeadersAsSet) {
  server.handler.route("/status", ScriptedAnswer::answer(200, "status", {{"Connection", "keep-alive"}}));
  server.handler.route("/chunked", ScriptedAnswer::raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                                       "5\r\nabcde\r\n3\r\nfgh\r\n0\r\n\r\n"));
  Fetched first = fetch(factory, server.url("/status"));
  EXPECT_EQ(first.body, "status") << first.error.text();
  EXPECT_EQ(first.connection->responseCode(), 200);
  EXPECT_EQ(first.connection->responseHeaderForKey("connection"), "keep-alive");
  EXPECT_FALSE(first.connection->reusedConnection());
  Fetched second = fetch(factory, server.url("/chunked"));
  EXPECT_EQ(second.body, "abcdefgh") << second.error.text();
  EXPECT_TRUE(second.connection->reusedConnection());
  Fetched third = fetch(factory, server.url("/status"));
  EXPECT_EQ(third.body, "status");
  EXPECT_TRUE(third.connection->reusedConnection());
  EXPECT_EQ(server.handler.connections, 1);

  auto headers = server.handler.requests().at(0);
  EXPECT_EQ(headers["x-qv-version"], "2");
  EXPECT_EQ(headers["host"], "127.0.0.1:" + std::to_string(server.port()));
  EXPECT_EQ(headers["accept-encoding"], "gzip");
}

TEST_F(URLConnectionTest, ErrorStatusesAreAnswersAndCompressedBodiesArriveDecoded) {
  server.handler.route("/missing", ScriptedAnswer::answer(404, "Photo abc not found", {{"Content-Type", "text/plain"}}));
  std::string catalog(100000, 'c');
  auto compressed = loomkit::Gzip::gzipDeflate(loomkit::bytesOf(catalog));
  server.handler.route("/albumdata", ScriptedAnswer::answer(200, std::string(loomkit::textOf(*compressed)),
                                                            {{"Content-Encoding", "gzip"}}));
  Fetched missing = fetch(factory, server.url("/missing"));
  EXPECT_EQ(missing.body, "Photo abc not found") << missing.error.text();
  EXPECT_EQ(missing.connection->responseCode(), 404);
  EXPECT_FALSE(missing.connection->errorOccurred());

  Fetched albumData = fetch(factory, server.url("/albumdata"));
  EXPECT_EQ(albumData.body, catalog) << albumData.error.text();
  EXPECT_EQ(albumData.connection->responseHeaderForKey("Content-Encoding"), "gzip");
  EXPECT_TRUE(albumData.connection->reusedConnection());
}

TEST_F(URLConnectionTest, RedirectsAreFollowed) {
  server.handler.route("/old", ScriptedAnswer::answer(302, "moved", {{"Location", "/new"}}));
  server.handler.route("/new", ScriptedAnswer::answer(200, "here"));
  server.handler.route("/loop", ScriptedAnswer::answer(301, "", {{"Location", "/loop"}}));
  Fetched moved = fetch(factory, server.url("/old"));
  EXPECT_EQ(moved.body, "here") << moved.error.text();
  EXPECT_EQ(moved.connection->responseCode(), 200);
  EXPECT_EQ(moved.connection->finalURL(), server.url("/new"));
  EXPECT_EQ(server.handler.connections, 1);

  Fetched loop = fetch(factory, server.url("/loop"));
  EXPECT_EQ(loop.connection->responseCode(), 301);  // given up after the tenth redirect
  EXPECT_EQ(server.handler.requestCount("/loop"), URLConnection::kMaxRedirects + 1);
}

TEST_F(URLConnectionTest, BrokenAnswersFailWithTheErrorsTheCallersTellApart) {
  server.handler.route("/reset", ScriptedAnswer::reset());
  server.handler.route("/short", ScriptedAnswer::raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", true));
  server.handler.route("/cut", ScriptedAnswer::raw("HTTP/1.1 200 OK\r\nContent-", true));
  server.handler.route("/gzip-te", ScriptedAnswer::raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nabc"));
  server.handler.route("/bad-chunk", ScriptedAnswer::raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nxyz\r\n"));
  server.handler.route("/garbage", ScriptedAnswer::raw("SSH-2.0-OpenSSH\r\n\r\n"));
  struct Case {
    const char* path;
    std::string domain;
    int64_t code;
    const char* description;
  } cases[] = {
      {"/reset", "UnixErrorDomain", ECONNRESET, nullptr},
      {"/short", "BufferedInputStreamErrorDomain", -4, nullptr},
      {"/cut", "BufferedInputStreamErrorDomain", -4, nullptr},
      {"/gzip-te", "StreamErrorDomain", -1, "unknown Transfer-Encoding 'gzip'"},
      {"/bad-chunk", "StreamErrorDomain", -1, "invalid chunk length: xyz"},
      {"/garbage", "HTTPResponseErrorDomain", -1, "invalid status line: SSH-2.0-OpenSSH"},
  };
  for (const Case& c : cases) {
    Fetched f = fetch(factory, server.url(c.path));
    EXPECT_FALSE(f.body) << c.path;
    EXPECT_EQ(f.error.domain(), c.domain) << c.path << ": " << f.error.text();
    EXPECT_EQ(f.error.code(), c.code) << c.path << ": " << f.error.text();
    if (c.description) {
      EXPECT_EQ(f.error.description(), c.description);
    }
    EXPECT_TRUE(f.connection->errorOccurred());
  }
  // Nothing is reused after a failure, and the next request is sound.
  server.handler.route("/status", ScriptedAnswer::answer(200, "ok"));
  EXPECT_EQ(fetch(factory, server.url("/status")).body, "ok");

  Error error;
  URLConnection refused("http://127.0.0.1:1/status", "GET");
  EXPECT_FALSE(refused.executeRequest(&error));
  EXPECT_TRUE(error.is("UnixErrorDomain", ECONNREFUSED)) << error.text();
  URLConnection invalid("http://[::1/status", "GET");
  EXPECT_FALSE(invalid.executeRequest(&error));
  EXPECT_TRUE(error.is(URLConnection::errorDomain(), URLConnection::kInvalidURLCode)) << error.text();
}

TEST_F(URLConnectionTest, BodiesInMemoryAreBoundedWhileStreamedBodiesAreNot) {
  std::string big(300000, 'x');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 26);
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (size_t at = 0; at < big.size(); at += 50000) chunked += "c350\r\n" + big.substr(at, 50000) + "\r\n";
  chunked += "0\r\n\r\n";
  server.handler.route("/big", ScriptedAnswer::answer(200, big));
  server.handler.route("/big-chunked", ScriptedAnswer::raw(chunked));
  server.handler.route("/denied", ScriptedAnswer::answer(403, "Access denied", {{"Content-Type", "text/plain"}}));
  for (const char* path : {"/big", "/big-chunked"}) {
    auto request = factory.newHTTPConnectionToURL(server.url(path), "GET");
    request->setMaxBodyLength(100000);
    Error error;
    EXPECT_FALSE(request->executeRequest(&error)) << path;
    EXPECT_TRUE(error.is(URLConnection::errorDomain(), URLConnection::kBodyTooLongCode)) << error.text();
    EXPECT_NE(error.description().find("exceeds 100000 bytes"), std::string::npos) << error.description();

    request = factory.newHTTPConnectionToURL(server.url(path), "GET");
    request->setMaxBodyLength(100000);  // no bound on what goes to a stream
    loomkit::DataOutputStream out;
    uint64_t written = 0;
    EXPECT_TRUE(request->executeRequestWritingBodyTo(out, written, &error)) << error.text();
    EXPECT_EQ(written, big.size());
    EXPECT_EQ(loomkit::textOf(*out.mutableData()), big);
  }
  const int connections = server.handler.connections;  // a body beyond the bound closed its connection
  auto request = factory.newHTTPConnectionToURL(server.url("/denied"), "GET");
  loomkit::DataOutputStream out;
  uint64_t written = 0;
  Error error;
  EXPECT_TRUE(request->executeRequestWritingBodyTo(out, written, &error)) << error.text();
  EXPECT_EQ(request->responseCode(), 403);
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(out.mutableData()->empty());
  EXPECT_EQ(fetch(factory, server.url("/big")).body, big);  // the connection survived the 403
  EXPECT_EQ(server.handler.connections, connections);
}

TEST_F(URLConnectionTest, AStreamedBodyEndsWithTheNextExecutionAndAConnectionClosedByTheServerIsReplaced) {
  server.handler.route("/status", ScriptedAnswer::answer(200, "ok"));
  server.handler.route("/last", ScriptedAnswer::raw("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nlast", true));
  URLConnection request(server.url("/status"), "GET");
  Error error;
  std::unique_ptr<loomkit::InputStream> body = request.executeRequestStreamingBody(&error);
  ASSERT_TRUE(body) << error.text();
  ASSERT_TRUE(request.executeRequest(&error)) << error.text();
  char c;
  EXPECT_EQ(body->read(&c, 1, &error), -1);
  EXPECT_TRUE(error.is(URLConnection::errorDomain(), URLConnection::kBodyGoneCode));
  EXPECT_EQ(server.handler.connections, 2);  // the unread body made the first connection useless

  // The server answers in full but then closes: the idle connection is not used again.
  EXPECT_EQ(fetch(factory, server.url("/last")).body, "last");
  Fetched after = fetch(factory, server.url("/status"));
  EXPECT_EQ(after.body, "ok") << after.error.text();
  EXPECT_FALSE(after.connection->reusedConnection());
}

TEST_F(URLConnectionTest, ARequestOnAKeptConnectionThatTheServerDropsIsSentAgainOnANewOne) {
  // The second request arrives just as the server gives up the idle connection: it reads the
  // request and closes without an answer, which a GET may safely be sent again for.
  server.handler.route("/status", [](const loomkit::ServerHTTPRequest&, int number) {
    return number == 2 ? ScriptedAnswer::raw("", true) : ScriptedAnswer::answer(200, "ok " + std::to_string(number));
  });
  EXPECT_EQ(fetch(factory, server.url("/status")).body, "ok 1");
  Fetched again = fetch(factory, server.url("/status"));
  EXPECT_EQ(again.body, "ok 3") << again.error.text();
  EXPECT_FALSE(again.connection->reusedConnection());
  EXPECT_EQ(server.handler.connections, 2);
  // A new connection that is dropped like that is a failure: nothing was reused.
  server.handler.route("/drop", ScriptedAnswer::raw("", true));
  URLConnection fresh(server.url("/drop"), "GET");
  Error error;
  EXPECT_FALSE(fresh.executeRequest(&error));
  EXPECT_TRUE(error.is(loomkit::BufferedInputStream::errorDomain(), loomkit::BufferedInputStream::kEndOfStreamCode))
      << error.text();
  EXPECT_EQ(server.handler.requestCount("/drop"), 1);
}

TEST(URLConnectionDeathTest, ARequestRunsOnlyOnTheThreadThatMadeIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  URLConnection request("http://127.0.0.1:9/status", "GET");
  EXPECT_DEATH(std::thread([&] { request.executeRequest(); }).join(), "must be on same thread!");
}

}  // namespace
