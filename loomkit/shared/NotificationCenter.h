// In-process notifications by name ("StreamsDidPause", "serverThreadDidBindAndListen", ...).
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace loomkit {

struct Notification {
  std::string name;
  std::map<std::string, std::any> userInfo;
};

// Thread-safe: observers may be added, removed and notified from any thread; observers_ is
// guarded by mutex_, which is not held while an observer runs.
class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;
  using Token = uint64_t;

  // The process's centre.
  static NotificationCenter& defaultCenter();

  Token addObserver(const std::string& name, Observer observer);
  void removeObserver(Token token);

  // Delivers to every observer of the name, on the calling thread, before returning.
  void post(const Notification& notification);
  // Delivers on the main thread without waiting (MainLoop::main()); with no main loop installed
  // (a plain command-line run), delivers at once on the calling thread.
  void postOnMainThread(Notification notification);

 private:
  struct Entry {
    Token token;
    std::string name;
    Observer observer;
  };
  std::mutex mutex_;
  Token nextToken_ = 1;          // guarded by mutex_
  std::vector<Entry> observers_;  // guarded by mutex_
};

}  // namespace loomkit
