#include "loomkit/httpserver/ServerHTTPRequest.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "loomkit/httpserver/ServerHTTPConnection.h"
#include "tests/support/LoopbackTcp.h"
#include "tests/support/TestSupport.h"

using loomkit::Error;
using loomkit::ServerHTTPConnection;
using loomkit::ServerHTTPRequest;
using loomkit::ServerSocket;

namespace {

// The server end of a loopback connection as the HTTP server sees it; the client end sends bytes.
class RequestOverSocket {
 public:
  RequestOverSocket() : connection_(std::make_shared<ServerSocket>(::dup(tcp_.server()))) {}

  void send(const std::string& bytes) {
    ASSERT_EQ(::send(tcp_.client(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void closeClient() { ::shutdown(tcp_.client(), SHUT_WR); }
  std::unique_ptr<ServerHTTPRequest> read(Error* error, uint64_t maxLength = 8192) {
    return connection_.requestWithMaxLength(maxLength, error);
  }

 private:
  fotello::test::LoopbackTcpPair tcp_;
  ServerHTTPConnection connection_;
};

struct StartLineCase {
  const char* line;  // without CR LF
  const char* method;
  const char* path;
  std::optional<std::string> query;
  const char* protocol;
};

TEST(ServerHTTPRequestTest, StartLinesGiveMethodPathQueryAndVersion) {
  const StartLineCase cases[] = {
      {"GET /photos/abc/thumbnail HTTP/1.1", "GET", "/photos/abc/thumbnail", std::nullopt, "1.1"},
      {"GET /status?x=1 HTTP/1.0", "GET", "/status", "x=1", "1.0"},
      {"GET /a?b?c HTTP/1.1", "GET", "/a", "b?c", "1.1"},  // the query runs from the first "?"
      {"GET /status? HTTP/1.1", "GET", "/status", "", "1.1"},
      {"frob  /x\tHTTP/1.1", "frob", "/x", std::nullopt, "1.1"},  // the method is not checked
      {"GET /r\xc3\xa9sum\xc3\xa9 HTTP/1.1", "GET", "/r\xc3\xa9sum\xc3\xa9", std::nullopt, "1.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    RequestOverSocket peer;
    peer.send(std::string(c.line) + "\r\n\r\n");
    Error error;
    auto request = peer.read(&error);
    ASSERT_TRUE(request) << error.text();
    EXPECT_EQ(request->method(), c.method);
    EXPECT_EQ(request->pathInfo(), c.path);
    EXPECT_EQ(request->queryString(), c.query);
    EXPECT_EQ(request->protocol(), c.protocol);
    EXPECT_TRUE(request->headers().empty());
  }
}

TEST(ServerHTTPRequestTest, MalformedStartLinesAreRefusedNamingTheLine) {
  const char* lines[] = {
      "GET /status HTTP/2.0",
      "GET /status HTTP/1.10",
      "GET /status",
      "GET /a b HTTP/1.1",  // without a query string the target has no blank
      "/status HTTP/1.1",
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    RequestOverSocket peer;
    peer.send(std::string(line) + "\r\n\r\n");
    Error error;
    EXPECT_FALSE(peer.read(&error));
    EXPECT_TRUE(error.is("HTTPErrorDomain", -1)) << error.text();
    EXPECT_EQ(error.description(), "invalid response line: " + std::string(line) + "\r\n");
  }
}

TEST(ServerHTTPRequestTest, HeaderNeedsBlankAfterColonAndIsFoundInAnyCase) {
  {
    RequestOverSocket peer;
    peer.send("GET /status HTTP/1.1\r\nX-QV-Version:2\r\n\r\n");
    Error error;
    EXPECT_FALSE(peer.read(&error));
    EXPECT_TRUE(error.is("HTTPResponseErrorDomain", -1)) << error.text();
    EXPECT_EQ(error.description(), "invalid response header: X-QV-Version:2\r\n");
  }
  RequestOverSocket peer;
  peer.send("GET /status HTTP/1.1\r\nX-QV-Version: 2\r\nX-QV-ComputerName:\t  Anna's  \r\n\r\n");
  Error error;
  auto request = peer.read(&error);
  ASSERT_TRUE(request) << error.text();
  EXPECT_EQ(request->headers().at("x-qv-version"), "2");
  EXPECT_EQ(request->headerForKey("X-QV-Version"), "2");
  EXPECT_EQ(request->headerForKey("x-qv-computername"), "Anna's  ");  // the value as sent after the blanks
  EXPECT_EQ(request->headerForKey("X-QV-PasswordMD5"), std::nullopt);
}

TEST(ServerHTTPRequestTest, MalformedHeaderLinesAreRefused) {
  const char* lines[] = {"NoColon", "Empty: ", ": value", "Name:"};
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    RequestOverSocket peer;
    peer.send("GET / HTTP/1.1\r\n" + std::string(line) + "\r\n\r\n");
    Error error;
    EXPECT_FALSE(peer.read(&error));
    EXPECT_EQ(error.description(), "invalid response header: " + std::string(line) + "\r\n");
  }
}

TEST(ServerHTTPRequestTest, RepeatedHeaderReplacesTheEarlierValueWithAWarning) {
  fotello::test::LogCapture log(loomkit::Log::kWarn);
  RequestOverSocket peer;
  peer.send("GET / HTTP/1.1\r\nX-Thing: one\r\nx-thing: two\r\n\r\n");
  auto request = peer.read(nullptr);
  ASSERT_TRUE(request);
  EXPECT_EQ(request->headerForKey("X-Thing"), "two");
  EXPECT_EQ(request->headers().size(), 1u);
  EXPECT_TRUE(log.contains("dumping request header x-thing = one"));
}

// A request whose start line and header lines take exactly `total` bytes.
std::string requestOfLength(size_t total) {
  std::string start = "GET /status HTTP/1.1\r\n";
  std::string header = "X-Pad: ";
  size_t padding = total - start.size() - header.size() - 2 /* its CR LF */ - 2 /* the empty line */;
  return start + header + std::string(padding, 'p') + "\r\n\r\n";
}

TEST(ServerHTTPRequestTest, HeaderBlockMayTakeTheLimitButNotOneByteMore) {
  {
    RequestOverSocket peer;
    peer.send(requestOfLength(8192));
    Error error;
    EXPECT_TRUE(peer.read(&error)) << error.text();
  }
  RequestOverSocket peer;
  peer.send(requestOfLength(8193));
  Error error;
  EXPECT_FALSE(peer.read(&error));
  EXPECT_TRUE(error.is("InputStreamErrorDomain", -1)) << error.text();
  EXPECT_EQ(error.description().rfind("exceeded maxLength ", 0), 0u) << error.description();
}

TEST(ServerHTTPRequestTest, ManySmallHeadersWithinTheByteLimitAreStillBounded) {
  std::string request = "GET / HTTP/1.1\r\n";
  for (size_t i = 0; i <= ServerHTTPRequest::kMaxHeaderCount; ++i) request += "h" + std::to_string(i) + ": v\r\n";
  RequestOverSocket peer;
  peer.send(request + "\r\n");
  Error error;
  EXPECT_FALSE(peer.read(&error));
  EXPECT_TRUE(error.is("HTTPResponseErrorDomain", -1)) << error.text();
  EXPECT_EQ(error.description(), "too many request headers");
}

TEST(ServerHTTPRequestTest, BackToBackRequestsAreReadInOrderFromOneBuffer) {
  RequestOverSocket peer;
  peer.send("GET /first HTTP/1.1\r\nA: 1\r\n\r\nGET /second?q HTTP/1.1\r\nB: 2\r\n\r\n");
  peer.closeClient();
  auto first = peer.read(nullptr);
  auto second = peer.read(nullptr);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->pathInfo(), "/first");
  EXPECT_EQ(first->headerForKey("a"), "1");
  EXPECT_EQ(second->pathInfo(), "/second");
  EXPECT_EQ(second->queryString(), "q");
  EXPECT_EQ(second->headerForKey("b"), "2");
  Error error;
  EXPECT_FALSE(peer.read(&error));  // then the client's end of stream
  EXPECT_TRUE(error.is("BufferedInputStreamErrorDomain", -4)) << error.text();
}

// Long runs of white space make the patterns backtrack over every split of the run; such lines are
// refused after a bounded effort instead of costing about a second each.
TEST(ServerHTTPRequestTest, LinesThatWouldBacktrackForeverAreRefusedQuickly) {
  const std::string blanks(8000, ' ');
  const std::string requests[] = {
      "GET" + blanks + "\r\n\r\n",
      "GET" + blanks.substr(0, 4000) + "?" + blanks.substr(0, 4000) + "\r\n\r\n",
      "GET / HTTP/1.1\r\nName:" + blanks + "\n\r\n\r\n",
  };
  auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < 5; ++round) {
    for (const auto& bytes : requests) {
      RequestOverSocket peer;
      peer.send(bytes);
      Error error;
      EXPECT_FALSE(peer.read(&error));
      EXPECT_EQ(error.code(), -1) << error.text();
    }
  }
  // Unbounded, these 15 lines take about 10 seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
