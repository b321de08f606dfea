// One client connection of the HTTP server: reads requests from it and makes responses on it.
#pragma once

#include <cstdint>
#include <memory>

#include "loomkit/httpserver/ServerHTTPRequest.h"
#include "loomkit/httpserver/ServerHTTPResponse.h"
#include "loomkit/httpserver/ServerSocket.h"

namespace loomkit {

// Used by one connection thread. Requests and responses are short-lived objects on it, one request
// read and one response written at a time; they must not outlive the connection or its close().
// The connection keeps one 8 KiB read buffer for its whole life, so bytes of a next request that
// arrived with the previous one are kept for it.
class ServerHTTPConnection {
 public:
  // Holds the socket until close().
  explicit ServerHTTPConnection(std::shared_ptr<ServerSocket> socket);

  // True until close(), while the socket is open.
  bool isOpen() const { return socket_ && socket_->isOpen(); }
  // Shuts down the sending direction (a failure is logged at ERROR as "shutdown: %@") and lets go
  // of the socket, which closes its descriptor once its last holder lets go. Nothing when closed.
  void close();

  // Reads the next request (ServerHTTPRequest::read with maxLength); nothing on failure, with the
  // read's error. Only while open.
  std::unique_ptr<ServerHTTPRequest> requestWithMaxLength(uint64_t maxLength, Error* error = nullptr);
  // A response with the status code, written to the socket. Only while open.
  std::unique_ptr<ServerHTTPResponse> responseWithCode(int code);

  // The socket, nullptr after close().
  ServerSocket* serverSocket() const { return socket_.get(); }

 private:
  std::shared_ptr<ServerSocket> socket_;
  std::unique_ptr<BufferedInputStream> is_;  // over socket_
};

}  // namespace loomkit
