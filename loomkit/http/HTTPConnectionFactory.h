// The process's source of HTTP request objects, with a pool per thread that keeps each thread's
// latest request object per server for a while, and with it the open TCP connection.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loomkit/http/ConnectionMap.h"
#include "loomkit/http/URLConnection.h"

namespace loomkit {

// Thread-safe. lock_ ("HTTPConnectionFactory lock") guards connectionMapsByThreadId_ and every map
// in it. Each thread's requests come from its own map, so a request object (and the socket the
// pool hands on) is only ever used by the thread that made it; the clean-up thread only lets go
// of entries, and the last holder of a request object closes its socket.
class HTTPConnectionFactory {
 public:
  struct Settings {
    // How long an entry may be found again after it was made.
    double maxConnectionLifetime = 20.0;
    // How often the clean-up thread drops old and failed entries.
    double cleanupInterval = 5.0;
  };

  // The single instance of the process, made on first use with the default settings; never
  // destroyed. Making it starts its clean-up thread.
  static HTTPConnectionFactory& theFactory();

  // A factory of its own (tests): its clean-up thread stops when it is destroyed.
  explicit HTTPConnectionFactory(Settings settings);
  ~HTTPConnectionFactory();
  HTTPConnectionFactory(const HTTPConnectionFactory&) = delete;
  HTTPConnectionFactory& operator=(const HTTPConnectionFactory&) = delete;

  // A new request object for url and method, stored in the calling thread's map under the key
  // "%@ %@://%@:%d" (method, scheme, host, port), replacing the entry there. An entry that saw a
  // failure or is older than the lifetime is removed first (TRACE "removing connection %p"); a
  // sound younger one ("found connection %p") hands its idle TCP connection to the new object.
  // "saving new connection %p" when the key had no entry.
  std::shared_ptr<URLConnection> newHTTPConnectionToURL(const std::string& url, const std::string& method,
                                                        HTTPConnectionDelegate* delegate = nullptr);

  // The pool key of a request: "GET http://10.0.0.2:17600".
  static std::string keyFor(const std::string& url, const std::string& method);

  // What the maps hold now, for tests and diagnostics.
  struct Entry {
    std::thread::id thread;
    std::string key;
    std::shared_ptr<URLConnection> connection;
  };
  std::vector<Entry> entries() const;

  const Settings& settings() const { return settings_; }

 private:
  void cleanupLoop();
  // One turn of the clean-up: drops old and failed entries and empty maps.
  void cleanup();

  const Settings settings_;
  mutable std::mutex lock_;
  std::map<std::thread::id, ConnectionMap> connectionMapsByThreadId_;  // guarded by lock_
  std::condition_variable stopChanged_;
  bool stopping_ = false;  // guarded by lock_
  std::thread cleanupThread_;
};

}  // namespace loomkit
