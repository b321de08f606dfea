// Serves accepted HTTP connections, each on a thread of its own, within a bound on their number.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "loomkit/http/ServerListenSocket.h"
#include "loomkit/httpserver/ConnectionHandler.h"
#include "loomkit/httpserver/ServerSocket.h"

namespace loomkit {

// One accepting thread calls acceptAndServe() (or serve()); every admitted connection then runs on
// a new detached thread with a small stack, reading one request after another and handing each to
// the handler, until a read or an answer fails. At most maxConnections connections are open at
// once. When a new one arrives at the limit, the server makes room by closing a connection that
// is waiting for (or still reading) a request: one of the host holding the most connections, the
// longest waiting of them. Connections busy answering are never closed; when every open
// connection is busy for a second, the new one is refused. So a flood of idle connections from
// one host cannot lock out the other peers, and memory and threads stay bounded.
//
// Thread-safe: mutex_ guards connections_, the counters and the log flag; the handler is called on
// connection threads without the lock.
class ConnectionServer {
 public:
  struct Limits {
    // The most connections open at once (lowered to fit the process's open-file limit).
    int maxConnections = 512;
    // The stack of each connection thread.
    size_t threadStackBytes = 256 * 1024;
    // The most bytes of one request's start line and headers.
    uint64_t maxHeaderBytes = 8192;
  };

  // "ConnectionServerErrorDomain": code 1 "connection closed to make room".
  static std::string_view errorDomain() { return "ConnectionServerErrorDomain"; }

  // The handler must outlive the server.
  explicit ConnectionServer(ConnectionHandler& handler) : ConnectionServer(handler, Limits{}) {}
  ConnectionServer(ConnectionHandler& handler, Limits limits);
  // Closes every open connection and waits until all their threads have ended.
  ~ConnectionServer();
  ConnectionServer(const ConnectionServer&) = delete;
  ConnectionServer& operator=(const ConnectionServer&) = delete;

  // One turn of an accepting loop: waits up to timeoutSeconds for a connection and serves it. An
  // accept time-out returns at once; any other failure is logged at ERROR as "accept: %@" and
  // followed by a one-second pause.
  void acceptAndServe(ServerListenSocket& listenSocket, int timeoutSeconds);
  // Serves the accepted socket on a new thread, making room first when the limit is reached; a
  // refused socket is closed.
  void serve(std::unique_ptr<ServerSocket> socket);

  // The connections open now (admitted and not yet ended).
  int connectionCount() const;
  // The limit in force.
  int maxConnections() const { return maxConnections_; }

 private:
  struct Connection {
    int fd;                // -1 once the connection is about to close its descriptor
    uint32_t host;         // the peer's IPv4 address, 0 when it has none
    uint64_t readingSince; // order in which connections began to wait for a request
    bool reading;          // waiting for or reading a request: the connection may be closed for room
    bool evicted;          // shut down to make room
  };
  struct ThreadStart;

  static void* threadMain(void* start);
  void runConnection(const std::shared_ptr<ServerSocket>& socket, uint64_t id);
  bool processNextRequest(ServerHTTPConnection& connection, uint64_t id, Error* error);
  // Marks the connection as waiting for a request or as busy answering; false once it was evicted.
  bool setReading(uint64_t id, bool reading);
  void markClosed(uint64_t id);
  void finish(uint64_t id);

  // With the lock held: true once there is room for one more connection.
  bool makeRoom(std::unique_lock<std::mutex>& lock);
  // Shuts down the connection that should give way, if any may.
  void evictOne();

  ConnectionHandler& handler_;
  const Limits limits_;
  const int maxConnections_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;  // a connection ended or began or stopped waiting for a request
  std::unordered_map<uint64_t, Connection> connections_;  // guarded by mutex_
  uint64_t nextId_ = 1;          // guarded by mutex_
  uint64_t readingSequence_ = 0; // guarded by mutex_
  int evictionsPending_ = 0;     // guarded by mutex_
  bool limitReported_ = false;   // guarded by mutex_
};

}  // namespace loomkit
