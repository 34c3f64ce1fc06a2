#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>

#include "app/core/notifier.h"

namespace tolvane {

// Notifications through the desktop's org.freedesktop.Notifications service on the
// session bus. Calls are asynchronous (the GUI thread never waits for the bus); a
// notification with a click handler offers the "default" action, which the servers run
// when the notification itself is clicked. Without a notification service, nothing is
// shown and nothing fails.
class DBusNotifier final : public QObject, public Notifier {
  Q_OBJECT

 public:
  explicit DBusNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
  void notify(const QString& summary, const QString& body, std::function<void()> onClick = {}) override;

 private slots:
  void actionInvoked(uint id, const QString& actionKey);
  void notificationClosed(uint id, uint reason);

 private:
  QDBusConnection bus_;
  // Click handlers of the notifications still on screen, by the server's id.
  QHash<uint, std::function<void()>> onClick_;
};

}  // namespace tolvane
