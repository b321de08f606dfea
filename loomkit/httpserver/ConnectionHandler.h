// What a server does with the connections that ConnectionServer accepts: answer their requests.
#pragma once

#include "loomkit/httpserver/ServerHTTPConnection.h"
#include "loomkit/httpserver/ServerHTTPRequest.h"
#include "loomkit/shared/Error.h"

namespace loomkit {

// Called on the connection threads, many at once: implementations guard their own shared state.
class ConnectionHandler {
 public:
  virtual ~ConnectionHandler() = default;

  // On a new connection's thread, before its first request is read.
  virtual void connectionWillStart() {}
  // On the connection's thread, once the connection was closed.
  virtual void connectionDidEnd() {}

  // Answers one request with a response made by connection.responseWithCode(). Returns true when
  // the answer was written completely (whatever its status code), so that the connection stays
  // open for the next request; false, with the error, closes the connection.
  virtual bool processRequest(ServerHTTPConnection& connection, const ServerHTTPRequest& request,
                              Error* error = nullptr) = 0;
};

}  // namespace loomkit
