// The agent's HTTP service: binds the listening port once the first catalog exists, accepts
// connections, checks every request's protocol version and (when asked to) its password digest,
// and answers the status record, the gzip-compressed catalog, photo thumbnails and originals, and
// the computer's icon.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "agent/QVServerThreadDelegate.h"
#include "catalog/AlbumData.h"
#include "loomkit/http/ServerListenSocket.h"
#include "loomkit/httpserver/ConnectionHandler.h"
#include "loomkit/httpserver/ConnectionServer.h"
#include "loomkit/shared/CancellableMainThreadCalls.h"

namespace fotello {

class ScanThread;

// Threads: the main thread configures the object, hands over catalogs and binds; one accepting
// thread runs run(); every accepted connection runs on a thread of its own (ConnectionServer: at
// most 512 at once, 256 KiB stacks, idle connections of the busiest host closed to make room).
//
// "QVServerThread lock" (mutex_) guards the delegate, the listening socket and the served
// catalog; connection threads take a reference under the lock and release it before the slow
// work, so a request in progress keeps the catalog it took. The password flag is an atomic. The
// scan thread is set before run() and constant afterwards. Create and destroy the object on the
// main thread; the destructor stops run() and waits for it and for every connection to end.
class QVServerThread final : private loomkit::ConnectionHandler {
 public:
  static constexpr int kDefaultPort = 17600;
  static constexpr int kAcceptTimeoutSeconds = 10;
  static constexpr uint64_t kMaxHeaderBytes = 8192;
  // Posted on the main thread once bound; user info "port" (int): the bound port.
  static constexpr const char* kDidBindAndListenNotification = "serverThreadDidBindAndListen";

  // Binds port (0: any free port) on all addresses, or only bindAddress (host byte order), at the
  // first catalog hand-over.
  explicit QVServerThread(int port = kDefaultPort, uint32_t bindAddress = INADDR_ANY,
                          loomkit::ConnectionServer::Limits limits = {});
  ~QVServerThread() override;
  QVServerThread(const QVServerThread&) = delete;
  QVServerThread& operator=(const QVServerThread&) = delete;

  // Any thread. The delegate is not owned and must outlive this object (or be replaced by nullptr).
  void setDelegate(QVServerThreadDelegate* delegate);
  // Any thread; logs "set passwordRequired=YES|NO" at DEBUG.
  void setPasswordRequired(bool required);
  bool passwordRequired() const { return passwordRequired_.load(std::memory_order_relaxed); }
  // Before run(): the source of the "/status" record. Not owned; must outlive this object.
  void setScanThread(ScanThread* scanThread) { scanThread_ = scanThread; }

  // Main thread: serves albumData (nullptr: none) from now on, then binds if not yet bound.
  void setLocalAlbumData(std::shared_ptr<const AlbumData> albumData);
  // Main thread: binds the port unless bound ("port %d was in use; binding at a random port" and
  // any free port when it is taken), logs "bound at port %d" and posts the bind notification. A
  // port that cannot be bound at all ends the program: "error binding to a socket: %@", the alert
  // "Failed to initialize", exit status 1.
  void bindAndListen();

  // Runs run() on a thread of this object's own, which the destructor joins. Once.
  void start();
  // The accepting loop, on a thread of its own: waits for the listening socket, then accepts with
  // a 10 s time-out and hands each connection to a thread of its own. Returns only after stop().
  void run();
  // Any thread: ends run() soon and cancels the delegate calls waiting for the main thread. Final.
  void stop();

  // The bound port, or the port to bind while not bound.
  int port() const;
  // The connections being served now.
  int connectionCount() const { return connectionServer_->connectionCount(); }

  // "Content-Type" of a served file, by the ending of its lower-cased path.
  static std::string contentTypeForPath(std::string_view path);

 private:
  struct ServedCatalog;

  // ConnectionHandler, on connection threads.
  void connectionWillStart() override;
  void connectionDidEnd() override;
  bool processRequest(loomkit::ServerHTTPConnection& connection, const loomkit::ServerHTTPRequest& request,
                      loomkit::Error* error) override;

  // Each writes one whole answer; false with the write's error.
  bool dispatch(loomkit::ServerHTTPConnection& connection, const std::string& path, loomkit::Error* error);
  bool sendStatus(loomkit::ServerHTTPConnection& connection, loomkit::Error* error);
  bool sendIcon(loomkit::ServerHTTPConnection& connection, loomkit::Error* error);
  bool sendAlbumData(loomkit::ServerHTTPConnection& connection, loomkit::Error* error);
  bool sendPhoto(loomkit::ServerHTTPConnection& connection, std::string_view key, bool thumbnail,
                 loomkit::Error* error);
  bool sendFile(loomkit::ServerHTTPConnection& connection, const std::string& path, loomkit::Error* error);
  static bool sendError(loomkit::ServerHTTPConnection& connection, int code, const std::string& message,
                        loomkit::Error* error);
  // Answers 403 or 500 itself and returns false when the request may not be served; ok is then
  // the answer's outcome.
  bool checkPassword(loomkit::ServerHTTPConnection& connection, const loomkit::ServerHTTPRequest& request,
                     const std::string& computerName, bool& ok, loomkit::Error* error);

  // Runs fn on the main thread and waits for it, unless stop() came first.
  void reportOnMainThread(std::function<void(QVServerThreadDelegate&)> fn);
  // Sleeps up to the given time, less when stop() is called; false once stopping.
  bool pause(std::chrono::milliseconds duration);

  const uint32_t bindAddress_;
  ScanThread* scanThread_ = nullptr;  // set before start() or run(), constant afterwards
  std::thread thread_;                // start()'s thread; main thread only

  std::atomic<bool> passwordRequired_{false};

  mutable std::mutex mutex_;  // "QVServerThread lock"
  std::condition_variable changed_;  // bound, stopping, or run() ended
  // Guarded by mutex_.
  QVServerThreadDelegate* delegate_ = nullptr;
  std::shared_ptr<loomkit::ServerListenSocket> listenSocket_;
  std::shared_ptr<ServedCatalog> servedCatalog_;
  int port_;
  bool stopping_ = false;
  bool running_ = false;

  loomkit::CancellableMainThreadCalls mainThreadCalls_;  // the delegate calls; cancelled by stop()

  // Declared last; the destructor ends it first, which closes every connection and waits for
  // its thread.
  std::unique_ptr<loomkit::ConnectionServer> connectionServer_;
};

}  // namespace fotello
