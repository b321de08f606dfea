#include "loomkit/http/HTTPResponseHead.h"

#include <gtest/gtest.h>

#include "loomkit/http/URL.h"
#include "loomkit/io/DataInputStream.h"

using loomkit::BufferedInputStream;
using loomkit::DataInputStream;
using loomkit::Error;
using loomkit::HTTPResponseHead;
using loomkit::URL;

namespace {

BufferedInputStream over(const std::string& bytes) {
  return BufferedInputStream(std::make_unique<DataInputStream>(loomkit::bytesOf(bytes)));
}

TEST(HTTPResponseHeadTest, ReadsStatusAndHeadersAndLeavesTheBody) {
  BufferedInputStream in(std::make_unique<DataInputStream>(loomkit::bytesOf(
      "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length:  14 \r\nVia: a\r\nvia: b\r\n"
      "Connection: Keep-Alive, Upgrade\r\n\r\nPath not found")));
  HTTPResponseHead head;
  Error error;
  ASSERT_TRUE(head.read(in, &error)) << error.text();
  EXPECT_EQ(head.version(), "1.1");
  EXPECT_EQ(head.statusCode(), 404);
  EXPECT_EQ(head.reasonPhrase(), "Not Found");
  EXPECT_EQ(head.headerForKey("content-type"), "text/plain");
  EXPECT_EQ(head.contentLength(), 14u);
  EXPECT_EQ(head.headerForKey("VIA"), "a, b");
  EXPECT_FALSE(head.headerForKey("Location"));
  EXPECT_TRUE(head.headerHasToken("Connection", "keep-alive"));
  EXPECT_FALSE(head.headerHasToken("Connection", "close"));
  auto body = in.readExactly(14);
  ASSERT_TRUE(body);
  EXPECT_EQ(loomkit::textOf(*body), "Path not found");

  BufferedInputStream noReason = over("HTTP/1.0 200\r\n\r\n");
  ASSERT_TRUE(head.read(noReason, &error)) << error.text();
  EXPECT_EQ(head.statusCode(), 200);
  EXPECT_EQ(head.reasonPhrase(), "");
}

TEST(HTTPResponseHeadTest, MalformedHeadsFail) {
  struct Case {
    std::string head;
    std::string description;
  } cases[] = {
      {"HTTP/2.0 200 OK\r\n\r\n", "invalid status line: HTTP/2.0 200 OK"},
      {"HTTP/1.1 20 OK\r\n\r\n", "invalid status line: HTTP/1.1 20 OK"},
      {"HTTP/1.1 2000 OK\r\n\r\n", "invalid status line: HTTP/1.1 2000 OK"},
      {"ICY 200 OK\r\n\r\n", "invalid status line: ICY 200 OK"},
      {"HTTP/1.1 200 OK\r\nNo colon here\r\n\r\n", "invalid response header: No colon here"},
      {"HTTP/1.1 200 OK\r\nName : value\r\n\r\n", "invalid response header: Name : value"},
      {"HTTP/1.1 200 OK\r\n folded: value\r\n\r\n", "invalid response header:  folded: value"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", "conflicting Content-Length headers"},
      {"HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", "invalid Content-Length: -1"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", "invalid Content-Length: 99999999999999999999"},
  };
  for (const Case& c : cases) {
    BufferedInputStream in = over(c.head);
    HTTPResponseHead head;
    Error error;
    EXPECT_FALSE(head.read(in, &error)) << c.head;
    EXPECT_EQ(error.domain(), HTTPResponseHead::errorDomain()) << c.head;
    EXPECT_EQ(error.description(), c.description);
  }
}

TEST(HTTPResponseHeadTest, HeadsAreBoundedAndAnEarlyEndIsTheEndOfStreamError) {
  std::string many = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 101; ++i) many += "X-" + std::to_string(i) + ": v\r\n";
  std::string huge = "HTTP/1.1 200 OK\r\n";
  while (huge.size() < 70000) huge += "X-Long: " + std::string(4000, 'v') + "\r\n";
  struct Case {
    std::string head;
    std::string description;
  } cases[] = {{many + "\r\n", "too many response headers"},
               {huge + "\r\n", "response head exceeds 65536 bytes"},
               {"HTTP/1.1 200 OK\r\n" + std::string(9000, 'x') + "\r\n\r\n", "exceeded maxLength 8192 before finding CRLF"}};
  for (const Case& c : cases) {
    BufferedInputStream in = over(c.head);
    HTTPResponseHead head;
    Error error;
    EXPECT_FALSE(head.read(in, &error));
    EXPECT_EQ(error.description(), c.description);
  }
  BufferedInputStream cut = over("HTTP/1.1 200 OK\r\nContent-Le");
  HTTPResponseHead head;
  Error error;
  EXPECT_FALSE(head.read(cut, &error));
  EXPECT_TRUE(error.is(BufferedInputStream::errorDomain(), BufferedInputStream::kEndOfStreamCode)) << error.text();
}

TEST(URLTest, ParsesHostsPortsAndTargets) {
  struct Case {
    const char* text;
    const char* host;
    int port;
    const char* target;
  } cases[] = {
      {"http://10.0.0.2:17600/status", "10.0.0.2", 17600, "/status"},
      {"http://[fe80::1%eth0]:17600/photos/ab/fullsize", "fe80::1%eth0", 17600, "/photos/ab/fullsize"},
      {"HTTP://Example.local", "Example.local", 80, "/"},
      {"http://h?x=1", "h", 80, "/?x=1"},
      {"http://h:8080/a?b#frag", "h", 8080, "/a?b"},
  };
  for (const Case& c : cases) {
    auto url = URL::parse(c.text);
    ASSERT_TRUE(url) << c.text;
    EXPECT_EQ(url->scheme(), "http");
    EXPECT_EQ(url->host(), c.host);
    EXPECT_EQ(url->port(), c.port);
    EXPECT_EQ(url->target(), c.target);
  }
  EXPECT_EQ(URL::parse("http://[::1]:5/x")->text(), "http://[::1]:5/x");
  for (const char* bad : {"", "status", "http://", "http://:80/", "http://h:0/", "http://h:65536/", "http://h:x/",
                          "http://[::1/", "http://::1:80/", "http://h/a b", "http://u@h/", "ftp://h/"}) {
    EXPECT_FALSE(URL::parse(bad)) << bad;
  }
}

TEST(URLTest, ResolvesRedirectLocations) {
  URL base = *URL::parse("http://h:1/a/b?q");
  EXPECT_EQ(base.resolve("http://other:2/x")->text(), "http://other:2/x");
  EXPECT_EQ(base.resolve("//other/x")->text(), "http://other:80/x");
  EXPECT_EQ(base.resolve("/root")->text(), "http://h:1/root");
  EXPECT_EQ(base.resolve("c")->text(), "http://h:1/a/c");
  EXPECT_EQ(base.resolve("?r")->text(), "http://h:1/a/b?r");
  EXPECT_FALSE(base.resolve("/with blank"));
}

}  // namespace
