// The receiver of the HTTP server's reports: connections starting and ending, and failures of the
// password store.
#pragma once

#include "loomkit/shared/Error.h"

namespace fotello {

class QVServerThread;

class QVServerThreadDelegate {
 public:
  virtual ~QVServerThreadDelegate() = default;

  // Before the first request of a connection and after it closed. Both run on the main thread
  // while the connection's thread waits for them to return.
  virtual void serverThreadWillProcessConnection(QVServerThread& serverThread) = 0;
  virtual void serverThreadDidProcessConnection(QVServerThread& serverThread) = 0;
  // The local password could not be read for a reason other than its absence. Called on the
  // connection's own thread, which then answers 500.
  virtual void serverThreadLocalPasswordError(const loomkit::Error& error) = 0;
};

}  // namespace fotello
