#include "loomkit/httpserver/ServerHTTPResponse.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "loomkit/httpserver/ServerSocket.h"
#include "loomkit/io/DataInputStream.h"
#include "tests/support/LoopbackTcp.h"
#include "tests/support/TestSupport.h"

using loomkit::Error;
using loomkit::ServerHTTPResponse;
using loomkit::ServerSocket;

namespace {

// A ServerSocket on the server end of a loopback connection, and everything the client end
// receives until the server side is done.
class ResponseOverSocket {
 public:
  ResponseOverSocket() : socket_(::dup(tcp_.server())) {}

  ServerSocket& socket() { return socket_; }
  // Closes the server side and returns every byte the client received. Reading runs on its own
  // thread from the start, so large bodies never block the writer.
  std::string received() {
    socket_.close();
    ::shutdown(tcp_.server(), SHUT_RDWR);
    reader_.join();
    return bytes_;
  }

 private:
  fotello::test::LoopbackTcpPair tcp_;
  ServerSocket socket_;
  std::string bytes_;
  std::thread reader_{[this] {
    char chunk[65536];
    ssize_t n;
    while ((n = ::recv(tcp_.client(), chunk, sizeof chunk, 0)) > 0) bytes_.append(chunk, static_cast<size_t>(n));
  }};
};

std::string randomBytes(size_t length, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

std::span<const uint8_t> span(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

TEST(ServerHTTPResponseTest, StatusLinesUseTheKnownPhrasesAndUnknownForTheRest) {
  const std::pair<int, const char*> cases[] = {{200, "OK"},       {304, "Not Modified"},
                                               {400, "Bad Request"}, {404, "Not Found"},
                                               {500, "Internal Server Error"}, {403, "Unknown"},
                                               {201, "Unknown"}};
  for (const auto& [code, phrase] : cases) {
    ResponseOverSocket peer;
    ServerHTTPResponse response(code, peer.socket());
    ASSERT_TRUE(response.writeFullyWithBody(nullptr));
    EXPECT_EQ(peer.received(), "HTTP/1.1 " + std::to_string(code) + " " + phrase + "\r\n\r\n");
  }
}

TEST(ServerHTTPResponseTest, HeadersKeepTheirFirstPlaceWhenReplacedAndTheBodyFollows) {
  ResponseOverSocket peer;
  ServerHTTPResponse response(200, peer.socket());
  response.setHeader("1", "Content-Length");
  response.setHeader("text/plain", "Content-Type");
  response.setKeepAliveHeader();
  response.setHeader("5", "Content-Length");
  loomkit::DataInputStream body(loomkit::Bytes{'h', 'e', 'l', 'l', 'o'});
  Error error;
  ASSERT_TRUE(response.writeFullyWithBody(&body, &error)) << error.text();
  EXPECT_EQ(peer.received(),
            "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Type: text/plain\r\nConnection: keep-alive\r\n\r\nhello");
}

TEST(ServerHTTPResponseTest, BodiesFromMemoryArriveByteExact) {
  for (size_t length : {size_t{0}, size_t{100}, size_t{8100}, size_t{300000}}) {  // in and beyond the buffer
    SCOPED_TRACE(length);
    ResponseOverSocket peer;
    std::string body = randomBytes(length, 7);
    ServerHTTPResponse response(200, peer.socket());
    response.setHeader(std::to_string(length), "Content-Length");
    Error error;
    ASSERT_TRUE(response.writeFullyWithBytes(span(body), &error)) << error.text();
    EXPECT_EQ(peer.received(), "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" + body);
  }
}

TEST(ServerHTTPResponseTest, FileBodiesAreSentByteExactFromTheGivenRange) {
  fotello::test::TempDir dir;
  const std::string contents = randomBytes(3 * 1024 * 1024 + 17, 11);
  fotello::test::writeFile(dir.file("photo.jpg"), contents);
  int fd = ::open(dir.file("photo.jpg").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const std::pair<uint64_t, uint64_t> ranges[] = {{0, contents.size()}, {1000, 5}, {contents.size(), 0}};
  for (const auto& [offset, length] : ranges) {
    SCOPED_TRACE(offset);
    ResponseOverSocket peer;
    ServerHTTPResponse response(200, peer.socket());
    response.setHeader(std::to_string(length), "Content-Length");
    Error error;
    ASSERT_TRUE(response.writeFullyWithFile(fd, offset, length, &error)) << error.text();
    EXPECT_EQ(peer.received(),
              "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" + contents.substr(offset, length));
  }
  ::close(fd);
}

TEST(ServerHTTPResponseTest, FileShorterThanAnnouncedFailsInsteadOfLeavingTheClientWaiting) {
  fotello::test::TempDir dir;
  fotello::test::writeFile(dir.file("short.jpg"), "0123456789");
  int fd = ::open(dir.file("short.jpg").c_str(), O_RDONLY | O_CLOEXEC);
  ResponseOverSocket peer;
  ServerHTTPResponse response(200, peer.socket());
  Error error;
  EXPECT_FALSE(response.writeFullyWithFile(fd, 4, 100, &error));
  EXPECT_TRUE(error.is("ServerSocketErrorDomain", -1)) << error.text();
  EXPECT_EQ(error.description(), "file ended after 6 of 100 bytes");
  EXPECT_EQ(peer.received(), "HTTP/1.1 200 OK\r\n\r\n456789");
  ::close(fd);
}

TEST(ServerSocketTest, WritingToAResetPeerFailsWithoutSignalAndLogsTheBrokenPipe) {
  fotello::test::LogCapture log(loomkit::Log::kError);
  fotello::test::LoopbackTcpPair tcp;
  ServerSocket socket(::dup(tcp.client()));  // the pair's "server" end plays the vanishing peer
  tcp.resetFromServer();
  std::vector<Error> errors;
  for (int i = 0; i < 3; ++i) {
    Error error;
    if (socket.write("x", 1, &error) < 0) errors.push_back(error);
  }
  ASSERT_FALSE(errors.empty());
  for (const Error& error : errors) {
    EXPECT_EQ(error.domain(), "UnixErrorDomain");
    EXPECT_TRUE(error.code() == ECONNRESET || error.code() == EPIPE) << error.text();
  }
  EXPECT_EQ(errors.back().code(), EPIPE);
  EXPECT_TRUE(log.contains(loomkit::strprintf("broken pipe on fd %d", socket.fd())));
}

TEST(ServerSocketTest, ClosedSocketNeverTouchesItsOldDescriptorNumber) {
  fotello::test::LoopbackTcpPair tcp;
  ServerSocket socket(::dup(tcp.server()));
  socket.close();
  EXPECT_FALSE(socket.isOpen());
  int reused = ::dup(tcp.server());  // takes the freed number: the same connection again
  char c;
  Error error;
  EXPECT_EQ(socket.read(&c, 1, &error), -1);
  EXPECT_TRUE(error.is("UnixErrorDomain", EBADF)) << error.text();
  EXPECT_EQ(socket.write("x", 1, &error), -1);
  EXPECT_TRUE(error.is("UnixErrorDomain", EBADF)) << error.text();
  socket.close();
  EXPECT_EQ(::recv(tcp.client(), &c, 1, MSG_DONTWAIT), -1);  // nothing was sent through the new descriptor
  EXPECT_NE(::fcntl(reused, F_GETFD), -1);                      // and it was not closed
  ::close(reused);
}

}  // namespace
