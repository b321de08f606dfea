// A small HTTP server on loopback for the client tests: answers each path as a test scripts it,
// with well-formed answers, raw bytes, or a reset connection, and counts what it saw.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "loomkit/httpserver/ConnectionHandler.h"
#include "loomkit/io/Streams.h"
#include "tests/loomkit/httpserver/HTTPTestPeers.h"

namespace fotello::test {

// What the server does with one request.
struct ScriptedAnswer {
  enum class Kind { kAnswer, kRaw, kReset };
  Kind kind = Kind::kAnswer;
  bool closeAfter = false;  // end the connection after the bytes of kRaw
  int code = 200;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Length
  std::string body;  // the body of kAnswer, or every byte of kRaw

  static ScriptedAnswer answer(int code, std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
    ScriptedAnswer a;
    a.code = code;
    a.body = std::move(body);
    a.headers = std::move(headers);
    return a;
  }
  // The bytes as they are, after which the connection stays open unless closeAfter.
  static ScriptedAnswer raw(std::string bytes, bool closeAfter = false) {
    ScriptedAnswer a;
    a.kind = Kind::kRaw;
    a.body = std::move(bytes);
    a.closeAfter = closeAfter;
    return a;
  }
  // Closes the connection with a reset instead of answering.
  static ScriptedAnswer reset() {
    ScriptedAnswer a;
    a.kind = Kind::kReset;
    return a;
  }
};

// Answers by path; a path without a script gets 404 "Path not found" as text. Route functions
// run on connection threads; the handler's own state is guarded by mutex_.
class ScriptedHandler : public loomkit::ConnectionHandler {
 public:
  using Route = std::function<ScriptedAnswer(const loomkit::ServerHTTPRequest& request, int requestNumber)>;

  void route(const std::string& path, Route route) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(route);
  }
  void route(const std::string& path, ScriptedAnswer answer) {
    route(path, [answer](const loomkit::ServerHTTPRequest&, int) { return answer; });
  }

  bool processRequest(loomkit::ServerHTTPConnection& connection, const loomkit::ServerHTTPRequest& request,
                      loomkit::Error* error) override {
    Route route;
    int number;
    {
      std::lock_guard lock(mutex_);
      number = ++requestCounts_[request.pathInfo()];
      requests_.push_back(request.headers());
      auto found = routes_.find(request.pathInfo());
      if (found != routes_.end()) route = found->second;
    }
    ScriptedAnswer answer =
        route ? route(request, number)
              : ScriptedAnswer::answer(404, "Path not found", {{"Content-Type", "text/plain"}});
    if (answer.kind == ScriptedAnswer::Kind::kReset) {
      linger now{1, 0};
      ::setsockopt(connection.serverSocket()->fd(), SOL_SOCKET, SO_LINGER, &now, sizeof now);
      connection.serverSocket()->close();
      return loomkit::setError(error, "ScriptedHandler", 1, "reset as scripted");
    }
    if (answer.kind == ScriptedAnswer::Kind::kRaw) {
      if (!loomkit::Streams::writeFully(*connection.serverSocket(), answer.body.data(), answer.body.size(), error)) {
        return false;
      }
      return !answer.closeAfter || loomkit::setError(error, "ScriptedHandler", 2, "closed as scripted");
    }
    auto response = connection.responseWithCode(answer.code);
    response->setHeader(std::to_string(answer.body.size()), "Content-Length");
    for (const auto& [name, value] : answer.headers) response->setHeader(value, name);
    return response->writeFullyWithBytes({reinterpret_cast<const uint8_t*>(answer.body.data()), answer.body.size()},
                                         error);
  }
  void connectionWillStart() override { connections++; }

  int requestCount(const std::string& path) {
    std::lock_guard lock(mutex_);
    return requestCounts_[path];
  }
  // The headers (lower-case names) of every request so far, in order.
  std::vector<std::map<std::string, std::string>> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  std::atomic<int> connections{0};

 private:
  std::mutex mutex_;
  std::map<std::string, Route> routes_;                   // guarded by mutex_
  std::map<std::string, int> requestCounts_;              // guarded by mutex_
  std::vector<std::map<std::string, std::string>> requests_;  // guarded by mutex_
};

// A ScriptedHandler serving on its own loopback port.
class ScriptedServer {
 public:
  ScriptedServer() : server_(handler) {}
  int port() const { return server_.port(); }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port()) + path; }

  ScriptedHandler handler;

 private:
  TestServer server_;
};

}  // namespace fotello::test
