#include "app/core/dbus_notifier.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <vector>

#include "tests/app/core/core_test_support.h"

namespace tolvane {
namespace {

// The desktop's notification service, on a private bus: records what it was asked to
// show and answers with increasing ids.
class FakeNotificationServer final : public QDBusVirtualObject {
 public:
  struct Shown {
    QString summary;
    QString body;
    QStringList actions;
  };

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QLatin1String("Notify")) return false;
    const auto args = message.arguments();
    shown.push_back({args.value(3).toString(), args.value(4).toString(), args.value(5).toStringList()});
    connection.send(message.createReply(QVariant::fromValue(uint(shown.size()))));
    return true;
  }

  std::vector<Shown> shown;
};

TEST(DBusNotifierTest, ShowsNotificationsAndRunsTheHandlerOfTheOneClicked) {
  testing::application();
  QProcess daemon;
  daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                QStringLiteral("--print-address=1")});
  ASSERT_TRUE(daemon.waitForReadyRead(10000)) << "dbus-daemon did not start";
  const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
  QDBusConnection serverBus = QDBusConnection::connectToBus(address, QStringLiteral("notification-server"));
  QDBusConnection clientBus = QDBusConnection::connectToBus(address, QStringLiteral("notification-client"));
  FakeNotificationServer server;
  ASSERT_TRUE(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
  ASSERT_TRUE(serverBus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &server));

  DBusNotifier notifier(clientBus);
  std::vector<int> clicked;
  notifier.notify(QStringLiteral("Recovered"), QStringLiteral("1 recording recovered"));
  notifier.notify(QStringLiteral("Link copied"), QStringLiteral("https://x.test/v/1"), [&] { clicked.push_back(2); });
  notifier.notify(QStringLiteral("Link copied"), QStringLiteral("https://x.test/v/2"), [&] { clicked.push_back(3); });
  ASSERT_TRUE(testing::processEventsUntil([&] { return server.shown.size() == 3; }));
  EXPECT_EQ(server.shown[0].summary, "Recovered");
  EXPECT_TRUE(server.shown[0].actions.isEmpty()) << "nothing to click through to";
  EXPECT_EQ(server.shown[1].body, "https://x.test/v/1");

  const auto click = [&](uint id, const char* action) {
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                     QStringLiteral("org.freedesktop.Notifications"),
                                                     QStringLiteral("ActionInvoked"));
    signal << id << QString::fromLatin1(action);
    serverBus.send(signal);
  };
  // Another button and a notification without a handler come first (signals arrive in
  // order): neither runs anything.
  click(2, "other");
  click(1, "default");
  click(3, "default");
  ASSERT_TRUE(testing::processEventsUntil([&] { return !clicked.empty() && clicked.back() == 3; }));
  QDBusConnection::disconnectFromBus(QStringLiteral("notification-client"));
  QDBusConnection::disconnectFromBus(QStringLiteral("notification-server"));
  daemon.terminate();
  daemon.waitForFinished();
  EXPECT_EQ(clicked, std::vector<int>{3});
}

}  // namespace
}  // namespace tolvane
