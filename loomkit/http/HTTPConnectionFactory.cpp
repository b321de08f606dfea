#include "loomkit/http/HTTPConnectionFactory.h"

#include <exception>

#include "loomkit/shared/Format.h"
#include "loomkit/shared/Log.h"

namespace loomkit {

namespace {

std::chrono::duration<double> seconds(double value) { return std::chrono::duration<double>(value); }

}  // namespace

HTTPConnectionFactory& HTTPConnectionFactory::theFactory() {
  // Never destroyed: request objects and the clean-up thread may outlive static destruction.
  static HTTPConnectionFactory* factory = new HTTPConnectionFactory(Settings{});
  return *factory;
}

HTTPConnectionFactory::HTTPConnectionFactory(Settings settings)
    : settings_(settings), cleanupThread_([this] { cleanupLoop(); }) {}

HTTPConnectionFactory::~HTTPConnectionFactory() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  stopChanged_.notify_all();
  cleanupThread_.join();
}

std::string HTTPConnectionFactory::keyFor(const std::string& url, const std::string& method) {
  std::optional<URL> parsed = URL::parse(url);
  if (!parsed) return method + " " + url;
  return strprintf("%s %s://%s:%d", method.c_str(), parsed->scheme().c_str(), parsed->host().c_str(),
                   static_cast<int>(parsed->port()));
}

std::shared_ptr<URLConnection> HTTPConnectionFactory::newHTTPConnectionToURL(const std::string& url,
                                                                             const std::string& method,
                                                                             HTTPConnectionDelegate* delegate) {
  const std::string key = keyFor(url, method);
  auto connection = std::make_shared<URLConnection>(url, method, delegate);
  std::shared_ptr<URLConnection> previous;  // let go of after unlocking
  std::lock_guard guard(lock_);
  ConnectionMap& map = connectionMapsByThreadId_[std::this_thread::get_id()];
  previous = map.connectionForKey(key);
  if (previous) {
    if (ConnectionMap::isStale(*previous, std::chrono::steady_clock::now(), seconds(settings_.maxConnectionLifetime))) {
      LOG_TRACE("removing connection %p", static_cast<const void*>(previous.get()));
      map.removeConnectionForKey(key);
    } else {
      LOG_TRACE("found connection %p", static_cast<const void*>(previous.get()));
      connection->adoptIdleSocket(previous->takeIdleSocket());
    }
  } else {
    LOG_TRACE("saving new connection %p", static_cast<const void*>(connection.get()));
  }
  map.setConnection(key, connection);
  return connection;
}

std::vector<HTTPConnectionFactory::Entry> HTTPConnectionFactory::entries() const {
  std::vector<Entry> out;
  std::lock_guard guard(lock_);
  for (const auto& [thread, map] : connectionMapsByThreadId_) {
    for (const auto& [key, connection] : map.connections()) out.push_back(Entry{thread, key, connection});
  }
  return out;
}

void HTTPConnectionFactory::cleanup() {
  std::vector<std::pair<std::string, std::shared_ptr<URLConnection>>> dropped;
  {
    std::lock_guard guard(lock_);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = connectionMapsByThreadId_.begin(); it != connectionMapsByThreadId_.end();) {
      auto gone = it->second.dropStale(now, seconds(settings_.maxConnectionLifetime));
      std::move(gone.begin(), gone.end(), std::back_inserter(dropped));
      // A thread that made no request for a while (or has ended) keeps no empty map behind.
      it = it->second.empty() ? connectionMapsByThreadId_.erase(it) : std::next(it);
    }
  }
  if (!dropped.empty() && Log::enabled(Log::kTrace)) {
    std::string keys;
    for (const auto& [key, connection] : dropped) keys += (keys.empty() ? "" : ", ") + key;
    LOG_TRACE("dropping (%s)", keys.c_str());
  }
}

void HTTPConnectionFactory::cleanupLoop() {
  std::unique_lock guard(lock_);
  for (;;) {
    stopChanged_.wait_for(guard, seconds(settings_.cleanupInterval), [&] { return stopping_; });
    if (stopping_) return;
    guard.unlock();
    try {
      cleanup();
    } catch (const std::exception& e) {
      LOG_ERROR("unexpected exception in HTTPConnectionFactory cleanup thread: %s", e.what());
    }
    guard.lock();
  }
}

}  // namespace loomkit
