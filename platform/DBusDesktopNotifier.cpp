#include "platform/DBusDesktopNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <cstdlib>
#include <sys/stat.h>

#include "loomkit/shared/Log.h"

namespace fotello {

namespace {

constexpr const char* kInterface = "org.freedesktop.Notifications";
// The action the service invokes when the notification itself is clicked.
constexpr const char* kDefaultAction = "default";

// True when a session bus can be reached without starting one: an address in the environment or
// the bus socket of the user's runtime directory.
bool sessionBusConfigured() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return false;
  struct stat st;
  return ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace

std::unique_ptr<DesktopNotifier> DesktopNotifier::newForSession() {
  if (sessionBusConfigured()) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
      if (!DBusDesktopNotifier::hasService(bus)) {
        LOG_INFO("no desktop notification service on the session bus yet; notifications go to the log until one appears");
      }
      return std::make_unique<DBusDesktopNotifier>(bus);
    }
  }
  LOG_INFO("no session bus; desktop notifications go to the log");
  return std::make_unique<LogDesktopNotifier>();
}

DBusDesktopNotifier::DBusDesktopNotifier(QDBusConnection connection) : connection_(std::move(connection)) {
  connection_.connect(kService, kPath, kInterface, "ActionInvoked", this, SLOT(actionInvoked(uint, QString)));
  connection_.connect(kService, kPath, kInterface, "NotificationClosed", this, SLOT(notificationClosed(uint, uint)));
}

DBusDesktopNotifier::~DBusDesktopNotifier() {
  connection_.disconnect(kService, kPath, kInterface, "ActionInvoked", this, SLOT(actionInvoked(uint, QString)));
  connection_.disconnect(kService, kPath, kInterface, "NotificationClosed", this,
                         SLOT(notificationClosed(uint, uint)));
}

bool DBusDesktopNotifier::hasService(const QDBusConnection& connection) {
  QDBusConnectionInterface* bus = connection.interface();
  if (!bus) return false;
  if (bus->isServiceRegistered(kService)) return true;
  return bus->activatableServiceNames().value().contains(kService);
}

void DBusDesktopNotifier::registerApplication(const std::string& applicationName, const std::vector<std::string>&,
                                              const std::vector<std::string>&) {
  // The service needs no registration: every notification carries the application name, and all
  // of ours are shown.
  applicationName_ = QString::fromStdString(applicationName);
}

void DBusDesktopNotifier::notify(const DesktopNotification& notification) {
  if (!hasService(connection_)) {
    log_.notify(notification);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QStringList actions;
  if (notification.clickContext) actions << kDefaultAction << "Open Fotello";
  QVariantMap hints;
  hints.insert("urgency", QVariant::fromValue<uchar>(1));  // normal: priority 0
  if (notification.sticky) hints.insert("resident", true);
  hints.insert("x-fotello-name", QString::fromStdString(notification.name));
  // Expiry: 0 never (sticky), -1 the service's default.
  call << applicationName_ << uint(0) << QString() << QString::fromStdString(notification.title)
       << QString::fromStdString(notification.description) << actions << hints << int(notification.sticky ? 0 : -1);
  LOG_DEBUG("posting desktop notification %s: %s", notification.name.c_str(), notification.title.c_str());
  auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
  std::optional<std::string> context = notification.clickContext;
  std::string name = notification.name;
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, context, name](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<uint> reply = *w;
    w->deleteLater();
    if (reply.isError()) {
      LOG_WARN("desktop notification %s failed: %s", name.c_str(), reply.error().message().toStdString().c_str());
      return;
    }
    if (context) clickContexts_[reply.value()] = *context;
  });
}

void DBusDesktopNotifier::actionInvoked(uint id, const QString& actionKey) {
  auto it = clickContexts_.find(id);
  if (it == clickContexts_.end()) return;
  std::string context = it->second;
  LOG_DEBUG("desktop notification %u clicked (%s)", id, actionKey.toStdString().c_str());
  clicked(context);
}

void DBusDesktopNotifier::notificationClosed(uint id, uint) { clickContexts_.erase(id); }

void LogDesktopNotifier::registerApplication(const std::string&, const std::vector<std::string>&,
                                             const std::vector<std::string>&) {}

void LogDesktopNotifier::notify(const DesktopNotification& notification) {
  LOG_INFO("notification %s: %s", notification.name.c_str(), notification.title.c_str());
}

}  // namespace fotello
