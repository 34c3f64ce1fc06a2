#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

#include "app/shell/app_action.h"

namespace tolvane {

class ActionRouter;
class AppModel;

// The application on the session bus: it owns the name com.tolvanelabs.Tolvane, so there
// is one instance per user session, and at /com/tolvanelabs/Tolvane implements
// org.freedesktop.Application (Activate shows the main window, ActivateAction runs an
// exported action) and com.tolvanelabs.Tolvane.State (Phase, Elapsed, SignInPhase,
// LastShareURL, PendingUploads, with PropertiesChanged).
class ApplicationService : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kObjectPath = "/com/tolvanelabs/Tolvane";
  static constexpr const char* kStateInterface = "com.tolvanelabs.Tolvane.State";
  // How long a second launch waits for the running instance to answer. It answers from
  // its event loop before doing anything, so a longer wait only means it is stuck.
  static constexpr int kForwardTimeoutMs = 3000;

  // What registering found.
  enum class Registration {
    owned,          // this process is the instance: the name and the object are ours
    heldByAnother,  // another instance owns the name: forward to it and exit
    noBus,          // no session bus (logged): run anyway, without a single instance
  };

  ApplicationService(AppModel& model, ActionRouter& actions, std::function<void()> activate,
                     QObject* parent = nullptr);
  ~ApplicationService() override;

  // Who runs the actions other programs ask for; by default the router at once. The
  // application holds them until its bootstrap has listed the screens: a launcher that
  // starts Tolvane through D-Bus activation sends its action the moment the name is
  // taken.
  void setActionRunner(std::function<void(AppAction)> run) { run_ = std::move(run); }
  // Told the launch id a caller passed (its "desktop-startup-id"), once the activation or
  // action it asked for has run: the launcher's feedback waits for us to end it.
  void setLaunchFeedback(std::function<void(const QByteArray& startupId)> done) { launchDone_ = std::move(done); }

  // Exports the object and takes the name on the session bus.
  Registration registerOnSessionBus();
  // The same on a given connection (tests use a private bus).
  Registration registerOn(QDBusConnection bus);

  // For a launch that finds Tolvane running: asks that instance to Activate, or to run
  // `action`. True when an instance answered; `error` then holds its error sentence, if
  // it answered with one (an unknown action), for the caller to print. False when no
  // instance owns the name, or it did not answer in time (`error` says so).
  static bool forwardToRunningInstance(const std::optional<QString>& action, QString* error = nullptr);
  static bool forwardToRunningInstance(QDBusConnection bus, const std::optional<QString>& action,
                                       QString* error = nullptr);

  // What the bus reads and asks for (the adaptors call these).
  QString phase() const;
  double elapsed() const;
  QString signInPhase() const;
  QString lastShareURL() const;
  uint pendingUploads() const;
  // Shows the main window once the call has been answered.
  void activate(const QByteArray& startupId = {});
  // Runs the exported action `name` once the call has been answered; false with the
  // reason in `error` for a name that is unknown or not for other programs.
  bool activateAction(const QString& name, QString* error, const QByteArray& startupId = {});
  // Sends a reply or a signal on the connection the service is registered on.
  bool send(const QDBusMessage& message) const;

 private:
  // The state as last announced; Elapsed counts in whole seconds (see announceChanges).
  struct Announced {
    QString phase;
    long elapsedSeconds = 0;
    QString signInPhase;
    QString lastShareURL;
    uint pendingUploads = 0;
  };
  Announced current() const;
  void announceChanges();

  AppModel& model_;
  QPointer<ActionRouter> actions_;
  std::function<void()> activate_;
  std::function<void(const QByteArray&)> launchDone_;
  std::function<void(AppAction)> run_;
  std::optional<QDBusConnection> bus_;
  Announced announced_;
};

}  // namespace tolvane
