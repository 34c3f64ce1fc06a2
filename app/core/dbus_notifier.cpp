#include "app/core/dbus_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <string>

#include "kit/base/application_id.h"

namespace tolvane {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

}  // namespace

DBusNotifier::DBusNotifier(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
  bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
               SLOT(actionInvoked(uint, QString)));
  bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
               SLOT(notificationClosed(uint, uint)));
}

void DBusNotifier::notify(const QString& summary, const QString& body, std::function<void()> onClick) {
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  QStringList actions;
  if (onClick) actions << QStringLiteral("default") << QStringLiteral("Open");
  QVariantMap hints;
  // Lets the server show our icon and group our notifications under the application.
  hints.insert(QStringLiteral("desktop-entry"), QString::fromUtf8(std::string(kApplicationID).c_str()));
  call << QStringLiteral("Tolvane") << uint(0) << QString::fromUtf8(std::string(kApplicationID).c_str()) << summary
       << body << actions << hints << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, onClick = std::move(onClick)](QDBusPendingCallWatcher* finished) {
            QDBusPendingReply<uint> reply = *finished;
            if (!reply.isError() && onClick) onClick_.insert(reply.value(), onClick);
            finished->deleteLater();
          });
}

void DBusNotifier::actionInvoked(uint id, const QString& actionKey) {
  if (actionKey != QLatin1String("default")) return;
  const auto handler = onClick_.take(id);
  if (handler) handler();
}

void DBusNotifier::notificationClosed(uint id, uint /*reason*/) { onClick_.remove(id); }

}  // namespace tolvane
