#pragma once

#include <QString>
#include <functional>

namespace tolvane {

// Desktop notifications, for what the user must know while no window of ours is open
// (a link copied, a recording recovered or stopped). DBusNotifier is the real one.
class Notifier {
 public:
  virtual ~Notifier() = default;
  // Shows `body` under `summary`. `onClick`, when given, runs on the GUI thread if the
  // user clicks the notification.
  virtual void notify(const QString& summary, const QString& body, std::function<void()> onClick = {}) = 0;
};

}  // namespace tolvane
