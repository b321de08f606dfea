// Desktop notifications of the agent: a title, a description, a name, a sticky flag and an
// optional click context. On a desktop they go to the session's notification service
// (org.freedesktop.Notifications over D-Bus); without one, each becomes an INFO line in the log,
// so the agent runs the same on a headless box.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fotello {

struct DesktopNotification {
  std::string name;  // one of the registered names, e.g. "CatalogingDidEnd"
  std::string title;
  std::string description;
  bool sticky = false;                      // stays until the user dismisses it
  std::optional<std::string> clickContext;  // handed to the click handler when it is clicked
};

// Main thread only: notifications are posted there, and clicks are delivered there.
class DesktopNotifier {
 public:
  using ClickHandler = std::function<void(const std::string& clickContext)>;

  virtual ~DesktopNotifier() = default;

  // The client registration: the application name shown with the notifications, every name it
  // posts and the names shown by default.
  virtual void registerApplication(const std::string& applicationName, const std::vector<std::string>& allNames,
                                   const std::vector<std::string>& defaultNames) = 0;
  virtual void notify(const DesktopNotification& notification) = 0;
  // Called when the user clicks a notification that has a click context.
  void setClickHandler(ClickHandler handler) { clickHandler_ = std::move(handler); }

  // The notification service of the session when the session bus has one (or can start one),
  // else the log.
  static std::unique_ptr<DesktopNotifier> newForSession();

 protected:
  void clicked(const std::string& clickContext) {
    if (clickHandler_) clickHandler_(clickContext);
  }

 private:
  ClickHandler clickHandler_;
};

// Writes "notification NAME: TITLE" at INFO level and nothing else (the agent logs every
// notification's description itself).
class LogDesktopNotifier final : public DesktopNotifier {
 public:
  void registerApplication(const std::string& applicationName, const std::vector<std::string>& allNames,
                           const std::vector<std::string>& defaultNames) override;
  void notify(const DesktopNotification& notification) override;
};

}  // namespace fotello
