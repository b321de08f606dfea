// The agent's item in the desktop's status area (system tray): its own small icon, idle or error,
// the tool tip "Fotello Agent", and a menu whose first line is the agent's status line, followed
// by the commands to open Fotello and to quit the agent.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QIcon;

namespace fotello {

// Main thread only (Qt widgets). Needs a QApplication.
class StatusItem {
 public:
  // The menu's commands; the item invokes them and nothing else.
  struct Actions {
    std::function<void()> openQVApp;
    std::function<void()> userTerminateQVAgent;
  };

  // Shows the item at once with the given status line.
  StatusItem(const std::string& statusLine, Actions actions);
  ~StatusItem();
  StatusItem(const StatusItem&) = delete;
  StatusItem& operator=(const StatusItem&) = delete;

  // True when the program runs a graphical session (a QApplication) and the desktop has a
  // status area to show items in.
  static bool isAvailable();

  void setStatusLine(const std::string& statusLine);
  // Chooses the error icon (true) or the idle icon.
  void setError(bool error);
  bool isError() const { return isError_; }

  QMenu& menu() { return *menu_; }
  QSystemTrayIcon& trayIcon() { return *trayIcon_; }

  // The two icons, drawn here rather than loaded: a small framed photo, and the same with a red
  // exclamation badge.
  static QIcon idleIcon();
  static QIcon errorIcon();

 private:
  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> trayIcon_;
  QAction* statusMenuItem_ = nullptr;  // owned by menu_
  Actions actions_;
  bool isError_ = false;
};

}  // namespace fotello
