// Both ends of HTTP over loopback for the server tests: a raw client that speaks bytes, a handler
// that records what it was asked, and a server accepting on its own thread.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "loomkit/http/ServerListenSocket.h"
#include "loomkit/httpserver/ConnectionServer.h"
#include "loomkit/io/SocketInputStream.h"
#include "loomkit/shared/Format.h"
#include "tests/support/TestSupport.h"

namespace fotello::test {

// A plain TCP client of 127.0.0.1:port, connecting from sourceAddress (any 127.x.y.z works on
// loopback, so tests can play several hosts). Reads wait at most 10 seconds.
class TestClient {
 public:
  explicit TestClient(int port, const char* sourceAddress = "127.0.0.1") {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket");
    sockaddr_in source{};
    source.sin_family = AF_INET;
    ::inet_pton(AF_INET, sourceAddress, &source.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.sin_port = htons(static_cast<uint16_t>(port));
    timeval wait{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
        ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
      ::close(fd_);
      throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    }
  }
  ~TestClient() { ::close(fd_); }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  int fd() const { return fd_; }

  void send(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  // A GET of path with the given extra header lines (each ending in CR LF).
  void get(const std::string& path, const std::string& headers = "") {
    send("GET " + path + " HTTP/1.1\r\nHost: test\r\n" + headers + "\r\n");
  }

  // One whole response: the head up to the empty line and the body of its Content-Length. Empty
  // when the server closed the connection (or nothing came in 10 s) before a head was complete.
  std::string readResponse() {
    size_t headEnd;
    while ((headEnd = pending_.find("\r\n\r\n")) == std::string::npos) {
      if (!receiveMore()) return "";
    }
    headEnd += 4;
    size_t length = 0;
    if (size_t at = pending_.find("Content-Length: "); at != std::string::npos && at < headEnd) {
      length = std::stoul(pending_.substr(at + 16));
    }
    while (pending_.size() < headEnd + length) {
      if (!receiveMore()) return "";
    }
    std::string response = pending_.substr(0, headEnd + length);
    pending_.erase(0, headEnd + length);
    return response;
  }

  // True when the server closed the connection: the next read ends the stream (or resets it).
  bool closedByServer() {
    char c;
    ssize_t n = ::recv(fd_, &c, 1, 0);
    return n == 0 || (n < 0 && errno == ECONNRESET);
  }

 private:
  bool receiveMore() {
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    pending_.append(chunk, static_cast<size_t>(n));
    return true;
  }

  int fd_;
  std::string pending_;
};

// Answers every request with 200 and a body naming what it parsed:
// "METHOD PATH[?QUERY] PROTOCOL" and one " name=value" per header. Records the thread stack size
// of its calls, and while `hold` is set keeps a request waiting until released.
class RecordingHandler : public loomkit::ConnectionHandler {
 public:
  bool processRequest(loomkit::ServerHTTPConnection& connection, const loomkit::ServerHTTPRequest& request,
                      loomkit::Error* error) override {
    recordStack();
    waitWhileHeld();
    std::string body = request.method() + " " + request.pathInfo() +
                       (request.queryString() ? "?" + *request.queryString() : "") + " " + request.protocol();
    for (const auto& [name, value] : request.headers()) body += " " + name + "=" + value;
    auto response = connection.responseWithCode(200);
    response->setHeader(std::to_string(body.size()), "Content-Length");
    response->setKeepAliveHeader();
    return response->writeFullyWithBytes({reinterpret_cast<const uint8_t*>(body.data()), body.size()}, error);
  }
  void connectionWillStart() override { started++; }
  void connectionDidEnd() override { ended++; }

  void hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void release() {
    std::lock_guard lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }
  // Waits until n requests are being held.
  bool waitUntilHolding(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return holding_ >= n; });
  }
  size_t stackSize() const { return stackSize_.load(); }
  // Waits until n connections have started.
  bool waitUntilStarted(int n) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (started < n) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  std::atomic<int> started{0};
  std::atomic<int> ended{0};

 private:
  void recordStack() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
    size_t size = 0;
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
    stackSize_ = size;
  }
  void waitWhileHeld() {
    std::unique_lock lock(mutex_);
    ++holding_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !held_; });
    --holding_;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;  // guarded by mutex_
  int holding_ = 0;    // guarded by mutex_
  std::atomic<size_t> stackSize_{0};
};

// A ConnectionServer on a loopback port of its own, accepting on a thread until destroyed.
class TestServer {
 public:
  explicit TestServer(loomkit::ConnectionHandler& handler, loomkit::ConnectionServer::Limits limits = {})
      : server_(handler, limits) {
    if (!listenSocket_.bindAndListenAtAnyPort(port_)) throw std::runtime_error("bind");
    acceptor_ = std::thread([this] {
      while (!stopping_) server_.acceptAndServe(listenSocket_, 1);
    });
  }
  ~TestServer() {
    stopping_ = true;
    try {
      TestClient wake(port_);  // ends the accept wait at once
    } catch (...) {
    }
    acceptor_.join();
  }

  int port() const { return port_; }
  loomkit::ConnectionServer& server() { return server_; }

  // Waits until the server holds exactly n connections.
  bool waitForConnectionCount(int n) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server_.connectionCount() != n) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  loomkit::ServerListenSocket listenSocket_{INADDR_LOOPBACK};
  int port_ = 0;
  loomkit::ConnectionServer server_;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
};

}  // namespace fotello::test
