#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

#include "app/shell/app_action.h"

namespace tolvane {

class AppModel;
class AutostartEntry;

// Runs the application's actions, whoever asks (a tray row, a menu item, a shortcut, a
// D-Bus call), and says which are available now, with the menu bar's validation rules.
// Lives on the GUI thread; QML reaches it as the context property `actions`.
class ActionRouter : public QObject {
  Q_OBJECT
  // Whether Tolvane starts when the user logs in (an XDG autostart entry).
  Q_PROPERTY(bool openAtLogin READ openAtLogin NOTIFY openAtLoginChanged)
  // The names of the actions available now, for bindings that must follow them:
  // `enabled: actions.enabledActions.includes("stop-recording")`.
  Q_PROPERTY(QStringList enabledActions READ enabledActions NOTIFY enabledChanged)

 public:
  // What only the application's shell can do.
  class Host {
   public:
    virtual ~Host() = default;
    // The main window on `pane`, or on the model's current pane when none is given.
    virtual void showMainWindow(std::optional<QString> pane) = 0;
    // Quits through the termination protocol (a running recording gets its grace period).
    virtual void requestQuit() = 0;
    virtual void showAbout() = 0;
    // A check the user asked for.
    virtual void checkForUpdates() = 0;
    // False while the updater checks or downloads.
    virtual bool canCheckForUpdates() const { return true; }
  };

  ActionRouter(AppModel& model, Host& host, AutostartEntry& autostart, QObject* parent = nullptr);
  ~ActionRouter() override;

  void trigger(AppAction action);
  bool isEnabled(AppAction action) const;

  // By name, for QML and D-Bus: false for an unknown name (nothing runs).
  Q_INVOKABLE bool trigger(const QString& name);
  Q_INVOKABLE bool isEnabled(const QString& name) const;

  bool openAtLogin() const;
  QStringList enabledActions() const;
  // Something the host decides on (the updater's state) changed: menus re-read isEnabled().
  void hostStateChanged() { recheckEnabled(); }

 signals:
  // The phase or the sign-in phase changed: menus re-read isEnabled().
  void enabledChanged();
  void openAtLoginChanged();

 private:
  // One bit per action that is enabled now, so enabledChanged() fires only on a real change.
  quint32 enabledSet() const;
  void recheckEnabled();
  void copyLastLink();

  AppModel& model_;
  Host& host_;
  AutostartEntry& autostart_;
  quint32 enabledSet_ = 0;
};

}  // namespace tolvane
