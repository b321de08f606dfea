#include "loomkit/http/ConnectionMap.h"

namespace loomkit {

std::shared_ptr<URLConnection> ConnectionMap::connectionForKey(const std::string& key) const {
  auto found = connections_.find(key);
  return found == connections_.end() ? nullptr : found->second;
}

void ConnectionMap::setConnection(const std::string& key, std::shared_ptr<URLConnection> connection) {
  connections_[key] = std::move(connection);
}

void ConnectionMap::removeConnectionForKey(const std::string& key) { connections_.erase(key); }

bool ConnectionMap::isStale(const URLConnection& connection, std::chrono::steady_clock::time_point now,
                            std::chrono::duration<double> lifetime) {
  return connection.errorOccurred() || now - connection.createdAt() > lifetime;
}

std::vector<std::pair<std::string, std::shared_ptr<URLConnection>>> ConnectionMap::dropStale(
    std::chrono::steady_clock::time_point now, std::chrono::duration<double> lifetime) {
  std::vector<std::pair<std::string, std::shared_ptr<URLConnection>>> dropped;
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (isStale(*it->second, now, lifetime)) {
      dropped.emplace_back(it->first, std::move(it->second));
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
  return dropped;
}

}  // namespace loomkit
