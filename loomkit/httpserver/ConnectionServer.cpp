#include "loomkit/httpserver/ConnectionServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include "loomkit/io/BufferedInputStream.h"
#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

// Descriptors kept free for everything else the process opens; each connection may also hold one
// file it is sending.
constexpr rlim_t kReservedDescriptors = 64;
constexpr int kDescriptorsPerConnection = 2;
// How long an arriving connection waits for a busy connection to end when none can be closed.
constexpr auto kRoomWait = std::chrono::seconds(1);

int limitForOpenFiles(int wanted) {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return wanted;
  rlim_t usable = files.rlim_cur > kReservedDescriptors ? files.rlim_cur - kReservedDescriptors : 0;
  int fitting = static_cast<int>(std::min<rlim_t>(usable / kDescriptorsPerConnection, INT_MAX));
  if (fitting >= wanted) return wanted;
  int limit = std::max(fitting, 1);
  LOG_INFO("connection limit lowered to %d for the open-file limit of %llu", limit,
           static_cast<unsigned long long>(files.rlim_cur));
  return limit;
}

uint32_t peerAddress(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.sin_family != AF_INET) return 0;
  return ntohl(address.sin_addr.s_addr);
}

std::string addressText(uint32_t host) {
  in_addr address{htonl(host)};
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

// The log line of a connection's last failure, by how expected it is.
void logFailure(const Error& error) {
  if (error.is(kInputStreamErrorDomain, -11) || error.is("StreamErrorDomain", -4)) {
    LOG_TRACE("error processing connection: %s", error.description().c_str());
  } else if (error.is(BufferedInputStream::errorDomain(), BufferedInputStream::kEndOfStreamCode)) {
    LOG_DEBUG("EOF while processing connection");
  } else if (error.is(ConnectionServer::errorDomain(), 1)) {
    LOG_DEBUG("%s", error.description().c_str());
  } else {
    LOG_ERROR("error processing connection: %s", error.description().c_str());
  }
}

}  // namespace

struct ConnectionServer::ThreadStart {
  ConnectionServer* server;
  std::shared_ptr<ServerSocket> socket;
  uint64_t id;
};

ConnectionServer::ConnectionServer(ConnectionHandler& handler, Limits limits)
    : handler_(handler), limits_(limits), maxConnections_(limitForOpenFiles(std::max(limits.maxConnections, 1))) {}

ConnectionServer::~ConnectionServer() {
  std::unique_lock lock(mutex_);
  for (auto& [id, connection] : connections_) {
    if (connection.fd >= 0) ::shutdown(connection.fd, SHUT_RDWR);
  }
  changed_.wait(lock, [this] { return connections_.empty(); });
}

int ConnectionServer::connectionCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(connections_.size());
}

void ConnectionServer::acceptAndServe(ServerListenSocket& listenSocket, int timeoutSeconds) {
  Error error;
  std::unique_ptr<ServerSocket> socket = listenSocket.acceptWithTimeout(timeoutSeconds, &error);
  if (socket) {
    serve(std::move(socket));
  } else if (!error.is(ServerListenSocket::errorDomain(), ServerListenSocket::kTimeoutErrorCode)) {
    LOG_ERROR("accept: %s", error.description().c_str());
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
}

void ConnectionServer::serve(std::unique_ptr<ServerSocket> socket) {
  const uint32_t host = peerAddress(socket->fd());
  uint64_t id;
  {
    std::unique_lock lock(mutex_);
    if (!makeRoom(lock)) {
      LOG_DEBUG("all %d connections are busy; refusing connection from %s", maxConnections_, addressText(host).c_str());
      return;
    }
    id = nextId_++;
    connections_.emplace(id, Connection{socket->fd(), host, ++readingSequence_, true, false});
  }
  auto* start = new ThreadStart{this, std::shared_ptr<ServerSocket>(std::move(socket)), id};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, std::max<size_t>(limits_.threadStackBytes, PTHREAD_STACK_MIN));
  pthread_t thread;
  int rc = pthread_create(&thread, &attributes, &ConnectionServer::threadMain, start);
  pthread_attr_destroy(&attributes);
  if (rc != 0) {
    LOG_ERROR("error starting connection thread: %s", systemErrorText(rc).c_str());
    markClosed(id);
    delete start;  // closes the socket
    finish(id);
  }
}

void* ConnectionServer::threadMain(void* argument) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
  ConnectionServer* server = start->server;
  uint64_t id = start->id;
  server->runConnection(start->socket, id);
  start.reset();  // closes the descriptor, after markClosed
  server->finish(id);  // the last use of the server by this thread
  return nullptr;
}

void ConnectionServer::runConnection(const std::shared_ptr<ServerSocket>& socket, uint64_t id) {
  handler_.connectionWillStart();
  {
    ServerHTTPConnection connection(socket);
    while (connection.isOpen()) {
      Error error;
      if (processNextRequest(connection, id, &error)) continue;
      logFailure(error);
      LOG_DEBUG("closing connection");
      connection.close();
    }
  }
  markClosed(id);
  handler_.connectionDidEnd();
}

bool ConnectionServer::processNextRequest(ServerHTTPConnection& connection, uint64_t id, Error* error) {
  setReading(id, true);
  std::unique_ptr<ServerHTTPRequest> request = connection.requestWithMaxLength(limits_.maxHeaderBytes, error);
  bool mine = setReading(id, false);
  if (!request) return false;
  if (!mine) return setError(error, errorDomain(), 1, "connection closed to make room");
  return handler_.processRequest(connection, *request, error);
}

bool ConnectionServer::setReading(uint64_t id, bool reading) {
  std::lock_guard lock(mutex_);
  Connection& connection = connections_.at(id);
  if (reading && !connection.reading) connection.readingSince = ++readingSequence_;
  connection.reading = reading;
  if (reading) changed_.notify_all();  // a candidate for making room
  return !connection.evicted;
}

void ConnectionServer::markClosed(uint64_t id) {
  std::lock_guard lock(mutex_);
  connections_.at(id).fd = -1;
}

void ConnectionServer::finish(uint64_t id) {
  std::lock_guard lock(mutex_);
  auto found = connections_.find(id);
  if (found->second.evicted) --evictionsPending_;
  connections_.erase(found);
  if (limitReported_ && static_cast<int>(connections_.size()) <= maxConnections_ / 2) limitReported_ = false;
  changed_.notify_all();
}

bool ConnectionServer::makeRoom(std::unique_lock<std::mutex>& lock) {
  auto full = [this] { return static_cast<int>(connections_.size()) >= maxConnections_; };
  if (!full()) return true;
  if (!limitReported_) {
    LOG_WARN("connection limit of %d reached; closing idle connections to make room", maxConnections_);
    limitReported_ = true;
  }
  const auto deadline = std::chrono::steady_clock::now() + kRoomWait;
  while (full()) {
    // Evictions under way already make room for as many arrivals.
    if (static_cast<int>(connections_.size()) - evictionsPending_ >= maxConnections_) evictOne();
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return !full();
  }
  return true;
}

void ConnectionServer::evictOne() {
  std::unordered_map<uint32_t, int> perHost;
  for (const auto& [id, connection] : connections_) {
    if (!connection.evicted) ++perHost[connection.host];
  }
  Connection* victim = nullptr;
  int victimHostCount = 0;
  for (auto& [id, connection] : connections_) {
    if (!connection.reading || connection.evicted || connection.fd < 0) continue;
    int hostCount = perHost[connection.host];
    if (!victim || hostCount > victimHostCount ||
        (hostCount == victimHostCount && connection.readingSince < victim->readingSince)) {
      victim = &connection;
      victimHostCount = hostCount;
    }
  }
  if (!victim) return;
  LOG_DEBUG("closing idle connection from %s to make room", addressText(victim->host).c_str());
  // Ending the receiving side wakes the thread's wait with an end of stream; it then closes the
  // connection the usual way, sending its end of stream to the client.
  ::shutdown(victim->fd, SHUT_RD);
  victim->evicted = true;
  ++evictionsPending_;
}

}  // namespace loomkit
