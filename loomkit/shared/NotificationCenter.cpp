#include "loomkit/shared/NotificationCenter.h"

#include <algorithm>

#include "loomkit/shared/MainLoop.h"

namespace loomkit {

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, Observer observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  Token token = nextToken_++;
  observers_.push_back(Entry{token, name, std::move(observer)});
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(observers_, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(const Notification& notification) {
  std::vector<Observer> targets;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& e : observers_) {
      if (e.name == notification.name) targets.push_back(e.observer);
    }
  }
  for (const Observer& observer : targets) observer(notification);
}

void NotificationCenter::postOnMainThread(Notification notification) {
  if (MainLoop* loop = MainLoop::main()) {
    loop->post([this, n = std::move(notification)] { post(n); });
  } else {
    post(notification);
  }
}

}  // namespace loomkit
