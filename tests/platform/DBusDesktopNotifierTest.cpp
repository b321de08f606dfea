// Desktop notifications over a private session bus with a notification service of the test's
// own: what the Notify calls carry, how a click comes back, and the log when the service is gone.
#include "platform/DBusDesktopNotifier.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QVariantMap>

#include "tests/support/TestSupport.h"

using namespace std::chrono_literals;
using fotello::DBusDesktopNotifier;
using fotello::test::LogCapture;

namespace {

// org.freedesktop.Notifications as far as the notifier uses it: records each Notify and answers
// with ids from 1.
class FakeNotificationService : public QDBusVirtualObject {
 public:
  struct Call {
    QString appName, summary, body;
    QStringList actions;
    QVariantMap hints;
    int expireTimeout;
  };
  std::vector<Call> calls;

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != "Notify") return false;
    const QList<QVariant> a = message.arguments();
    if (a.size() != 8) return false;
    calls.push_back({a[0].toString(), a[3].toString(), a[4].toString(), a[5].toStringList(),
                     qdbus_cast<QVariantMap>(a[6]), a[7].toInt()});
    connection.send(message.createReply(QVariant::fromValue(uint(calls.size()))));
    return true;
  }
};

class DBusDesktopNotifierTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { app_ = new QCoreApplication(argc_, argv_); }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }

  void SetUp() override {
    address_ = "unix:path=" + dir_.file("bus");
    daemon_ = std::make_unique<fotello::test::ChildProcess>(
        std::vector<std::string>{"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                                 "--address=" + address_},
        std::map<std::string, std::string>{});
    ASSERT_TRUE(waitFor([&] { return fotello::test::fileExists(dir_.file("bus")); })) << daemon_->output();
    server_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(QString::fromStdString(address_), "server"));
    client_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(QString::fromStdString(address_), "client"));
    ASSERT_TRUE(server_->isConnected() && client_->isConnected());
  }
  void TearDown() override {
    client_.reset();
    server_.reset();
    QDBusConnection::disconnectFromBus("client");
    QDBusConnection::disconnectFromBus("server");
  }

  void startService() {
    ASSERT_TRUE(server_->registerVirtualObject(DBusDesktopNotifier::kPath, &service_));
    ASSERT_TRUE(server_->registerService(DBusDesktopNotifier::kService));
  }

  static bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 5s) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
      if (timer.elapsed() > timeout.count()) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }

  static inline int argc_ = 1;
  static inline char name_[] = "agent_tests";
  static inline char* argv_[] = {name_, nullptr};
  static inline QCoreApplication* app_ = nullptr;

  fotello::test::TempDir dir_;
  std::string address_;
  std::unique_ptr<fotello::test::ChildProcess> daemon_;
  std::unique_ptr<QDBusConnection> server_, client_;
  FakeNotificationService service_;
};

TEST_F(DBusDesktopNotifierTest, NotificationsCarryTheirTextsAndStickinessAndAClickComesBack) {
  startService();
  DBusDesktopNotifier notifier(*client_);
  EXPECT_TRUE(DBusDesktopNotifier::hasService(*client_));
  std::vector<std::string> clicks;
  notifier.setClickHandler([&](const std::string& context) { clicks.push_back(context); });
  notifier.registerApplication("Fotello Agent", {"CatalogingDidEnd", "AccessWasDenied"}, {"CatalogingDidEnd"});

  notifier.notify({"CatalogingDidEnd", "Cataloging complete", "Finished cataloging photos in /p", false, std::nullopt});
  notifier.notify({"AccessWasDenied", "Access denied", "Access to Den was denied. Click to open Fotello.", true,
                   std::string("accessDenied")});
  ASSERT_TRUE(waitFor([&] { return service_.calls.size() == 2; }));
  const auto& plain = service_.calls[0];
  EXPECT_EQ(plain.appName, "Fotello Agent");
  EXPECT_EQ(plain.summary, "Cataloging complete");
  EXPECT_EQ(plain.body, "Finished cataloging photos in /p");
  EXPECT_TRUE(plain.actions.isEmpty());
  EXPECT_EQ(plain.expireTimeout, -1);
  EXPECT_EQ(plain.hints.value("x-fotello-name").toString(), "CatalogingDidEnd");
  const auto& sticky = service_.calls[1];
  EXPECT_EQ(sticky.summary, "Access denied");
  EXPECT_EQ(sticky.expireTimeout, 0) << "sticky: never expires";
  EXPECT_EQ(sticky.actions.value(0), "default");

  // Let the answers (ids 1 and 2) arrive, then click both: only the one with a context reports.
  QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  for (uint id : {1u, 2u}) {
    QDBusMessage click = QDBusMessage::createSignal(DBusDesktopNotifier::kPath, DBusDesktopNotifier::kService,
                                                    "ActionInvoked");
    click << id << QString("default");
    server_->send(click);
  }
  ASSERT_TRUE(waitFor([&] { return !clicks.empty(); }));
  QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  EXPECT_EQ(clicks, std::vector<std::string>{"accessDenied"});

  // Once closed, a late click on it is not reported.
  QDBusMessage closed = QDBusMessage::createSignal(DBusDesktopNotifier::kPath, DBusDesktopNotifier::kService,
                                                   "NotificationClosed");
  closed << 2u << 2u;
  server_->send(closed);
  QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
  QDBusMessage late = QDBusMessage::createSignal(DBusDesktopNotifier::kPath, DBusDesktopNotifier::kService,
                                                 "ActionInvoked");
  late << 2u << QString("default");
  server_->send(late);
  waitFor([] { return false; }, 200ms);
  EXPECT_EQ(clicks.size(), 1u);
}

TEST_F(DBusDesktopNotifierTest, WithoutTheServiceNotificationsGoToTheLog) {
  DBusDesktopNotifier notifier(*client_);
  EXPECT_FALSE(DBusDesktopNotifier::hasService(*client_));
  LogCapture log(loomkit::Log::kInfo);
  notifier.notify({"BundleWasDeleted", "Fotello Agent exited", "Fotello application was deleted", false, std::nullopt});
  EXPECT_TRUE(log.contains("notification BundleWasDeleted: Fotello Agent exited"));
  waitFor([] { return false; }, 100ms);
  EXPECT_TRUE(service_.calls.empty());
}

}  // namespace
