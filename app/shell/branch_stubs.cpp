// Stand-ins for the shell's other classes until they are merged in; this file goes then.
#include <QQmlEngine>

#include "app/core/app_model.h"
#include "app/shell/action_router.h"
#include "app/shell/application_service.h"
#include "app/shell/autostart_entry.h"
#include "app/shell/global_shortcuts.h"
#include "app/shell/status_item_controller.h"
#include "app/ui/main_window_controller.h"

namespace tolvane {

QString shortcutNoticeText(const QStringList& unavailable) {
  if (unavailable.isEmpty()) return {};
  return QStringLiteral("%1 is in use by another app — bind `tolvane --action start-recording` in your desktop's "
                        "keyboard settings instead.")
      .arg(unavailable.join(QStringLiteral(", ")));
}

ActionRouter::ActionRouter(AppModel& model, Host& host, AutostartEntry& autostart, QObject* parent)
    : QObject(parent), model_(model), host_(host), autostart_(autostart) {}
ActionRouter::~ActionRouter() = default;
void ActionRouter::trigger(AppAction action) {
  switch (action) {
    case AppAction::startRecording: model_.recording().startCountdown(); return;
    case AppAction::stopRecording: model_.recording().stopRecording(); return;
    case AppAction::quit: host_.requestQuit(); return;
    case AppAction::showMainWindow: host_.showMainWindow(std::nullopt); return;
    case AppAction::checkForUpdates: host_.checkForUpdates(); return;
    default: return;
  }
}
bool ActionRouter::isEnabled(AppAction) const { return true; }
bool ActionRouter::trigger(const QString& name) {
  auto action = appActionFromName(name);
  if (!action) return false;
  trigger(*action);
  return true;
}
bool ActionRouter::isEnabled(const QString&) const { return true; }
bool ActionRouter::openAtLogin() const { return autostart_.isEnabled(); }

AutostartEntry::AutostartEntry(QString configHome) : path_(std::move(configHome)) {}
bool AutostartEntry::isEnabled() const { return false; }
bool AutostartEntry::setEnabled(bool) { return false; }
QString AutostartEntry::path() const { return path_; }

ApplicationService::ApplicationService(AppModel&, ActionRouter&, std::function<void()>, QObject* parent)
    : QObject(parent) {}
ApplicationService::~ApplicationService() = default;
bool ApplicationService::registerOnSessionBus() { return true; }
bool ApplicationService::forwardToRunningInstance(const std::optional<QString>&, QString*) { return false; }

struct GlobalShortcuts::X11Grab {};
GlobalShortcuts::GlobalShortcuts(QObject* parent) : QObject(parent) {}
GlobalShortcuts::~GlobalShortcuts() = default;
QStringList GlobalShortcuts::install() { return {}; }

struct StatusItemController::Impl {};
StatusItemController::StatusItemController(AppModel&, ActionRouter&, QQmlEngine&, QObject* parent)
    : QObject(parent) {}
StatusItemController::~StatusItemController() = default;
void StatusItemController::refresh() {}
void StatusItemController::toggle() {}
bool StatusItemController::isAvailable() const { return false; }

MainWindowController::MainWindowController(AppModel& model, QQmlEngine& engine, QObject* parent)
    : QObject(parent), model_(model), engine_(engine) {}
MainWindowController::~MainWindowController() = default;
void MainWindowController::show(std::optional<QString> pane) {
  if (pane) model_.selectPane(*pane);
}
void MainWindowController::hide() {}
void MainWindowController::setHiddenFromTaskbar(bool) {}
void MainWindowController::showAbout() {}

}  // namespace tolvane

#include "moc_action_router.cpp"
#include "moc_application_service.cpp"
#include "moc_global_shortcuts.cpp"
#include "moc_status_item_controller.cpp"
#include "app/ui/moc_main_window_controller.cpp"
