// Desktop notifications through the session's org.freedesktop.Notifications service.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <map>

#include "platform/DesktopNotifier.h"

namespace fotello {

// Main thread only (the Qt thread of the connection). Notify calls are asynchronous; the id each
// answer carries is kept with its click context until the notification closes. When the service
// is neither running nor activatable at the moment of a notification, it goes to the log instead.
class DBusDesktopNotifier final : public QObject, public DesktopNotifier {
  Q_OBJECT
 public:
  static constexpr const char* kService = "org.freedesktop.Notifications";
  static constexpr const char* kPath = "/org/freedesktop/Notifications";

  explicit DBusDesktopNotifier(QDBusConnection connection);
  ~DBusDesktopNotifier() override;

  // True when the connection's bus has the notification service or can start it.
  static bool hasService(const QDBusConnection& connection);

  void registerApplication(const std::string& applicationName, const std::vector<std::string>& allNames,
                           const std::vector<std::string>& defaultNames) override;
  void notify(const DesktopNotification& notification) override;

 private slots:
  void actionInvoked(uint id, const QString& actionKey);
  void notificationClosed(uint id, uint reason);

 private:
  QDBusConnection connection_;
  QString applicationName_;
  LogDesktopNotifier log_;
  std::map<uint, std::string> clickContexts_;  // by notification id, while shown
};

}  // namespace fotello
