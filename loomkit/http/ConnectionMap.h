// One thread's pool of request objects: the latest one made for each method and server.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "loomkit/http/URLConnection.h"

namespace loomkit {

// Belongs to HTTPConnectionFactory and is used only under its lock.
class ConnectionMap {
 public:
  // The entry of the key ("%@ %@://%@:%d": method, scheme, host, port), null when there is none.
  std::shared_ptr<URLConnection> connectionForKey(const std::string& key) const;
  // Stores connection under key, replacing any entry.
  void setConnection(const std::string& key, std::shared_ptr<URLConnection> connection);
  void removeConnectionForKey(const std::string& key);

  // Removes the entries that saw a failure or were made more than lifetime before now, and
  // returns them (so that the caller lets go of them, closing their sockets, after unlocking).
  std::vector<std::pair<std::string, std::shared_ptr<URLConnection>>> dropStale(
      std::chrono::steady_clock::time_point now, std::chrono::duration<double> lifetime);

  // True for an entry that saw a failure or is older than lifetime.
  static bool isStale(const URLConnection& connection, std::chrono::steady_clock::time_point now,
                      std::chrono::duration<double> lifetime);

  const std::map<std::string, std::shared_ptr<URLConnection>>& connections() const { return connections_; }
  bool empty() const { return connections_.empty(); }

 private:
  std::map<std::string, std::shared_ptr<URLConnection>> connections_;
};

}  // namespace loomkit
